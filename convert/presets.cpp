// The target presets: what each output handset offers, and the corrections that depend on the
// song being converted.
#include <algorithm>

#include "convert/conversion_run.h"
#include "core/vstream.h"

namespace vlm {

namespace {

// The handset that playback and MIDI output imitate, by `midmono`.
FormatCode imitatedOutput(int midmono) {
  switch (midmono) {
    case 1:
    case 2:
      return FORMAT_MLD;
    case 3:
      return FORMAT_MLD_4;
    case 4:
      return FORMAT_MLD_3;
    case 5:
      return FORMAT_DXM;
    default:
      return FORMAT_SMF;
  }
}

void setTiming(TargetPreset& p, FormatCode c) {
  const OutputFamily family = outputFamily(c);
  if (family == OutputFamily::DXM) {
    p.maxTempo = c == FORMAT_DXM ? 255 : 500;
    p.targetTimebase = uint16_t(options.DxmBsTime);
  } else if (family == OutputFamily::MLD || family == OutputFamily::PMD) {
    p.maxTimebase = 960;
    p.maxTempo = 255;
    p.targetTimebase = uint16_t(options.MldBsTime);
  } else if (family == OutputFamily::SMAF) {
    p.fixedTempo = true;
    p.oneVoicePerChannel = true;
    p.targetTimebase = uint16_t(options.MmfBsTime);
    p.fixedTempoValue = 125;
  } else if (family == OutputFamily::SMAF40) {
    p.fixedTempo = true;
    p.targetTimebase = uint16_t(options.MmfBsTime);
    p.fixedTempoValue = 125;
  }
}

void setVoices(TargetPreset& p, uint8_t polyphony, uint8_t low, uint8_t high, int version) {
  p.polyphony = polyphony;
  p.lowestNote = low;
  p.highestNote = high;
  p.formatVersion = version;
}

void setFourVoiceFm(TargetPreset& p) {
  p.fourVoiceFm = true;
  p.fixedTempo = true;
  p.oneVoicePerChannel = true;
  p.fourChannelTracks = true;
}

void setHandset(TargetPreset& p, FormatCode c) {
  p.ezwebTarget = hasOutputTrait(c, OUT_EZWEB);
  switch (c) {
    case FORMAT_SMF:
      setVoices(p, 64, 0, 127, 1);
      break;
    case FORMAT_DXM:
      setVoices(p, 12, 0, 127, 1);
      p.channelCount = 4;
      break;
    case FORMAT_DXM32:
      setVoices(p, 32, 0, 127, 2);
      break;
    case FORMAT_MLD:
    case FORMAT_MLD_FM16F:
      setVoices(p, 16, 21, 119, 2);
      p.oneVoicePerChannel = true;
      p.fourChannelTracks = true;
      p.familyCode = c == FORMAT_MLD ? 0x11 : 0x21;
      break;
    case FORMAT_MLD_PCM16:
    case FORMAT_MLD_PCM32:
      setVoices(p, c == FORMAT_MLD_PCM16 ? 16 : 32, 21, 119, 2);
      p.fourChannelTracks = true;
      break;
    case FORMAT_MLD_PCM24SO:
    case FORMAT_MLD_PCM24D:
      setVoices(p, 24, 21, 119, 2);
      p.fourChannelTracks = true;
      p.familyCode = c == FORMAT_MLD_PCM24SO ? 0x31 : 0x61;
      break;
    case FORMAT_MLD_40:
    case FORMAT_MLD_40SO:
      setVoices(p, 40, 21, 119, 3);
      p.fourChannelTracks = true;
      if (c == FORMAT_MLD_40SO) p.familyCode = 0x31;
      break;
    case FORMAT_MLD_3:
    case FORMAT_MLD_3SH:
    case FORMAT_PMD3:
      setVoices(p, 3, c == FORMAT_MLD_3SH ? 56 : 45, 107, 1);
      p.oneVoicePerChannel = true;
      p.fourChannelTracks = true;
      p.psgSource = true;
      break;
    case FORMAT_MLD_4S:
    case FORMAT_MLD_4:
    case FORMAT_MLD_4P:
      setVoices(p, 4, 45, 107, 1);
      setFourVoiceFm(p);
      if (c != FORMAT_MLD_4S) {
        p.topNoteFromSong = true;
        p.familyCode = 0x01;
      }
      p.voiceParamExclusive = c == FORMAT_MLD_4P;
      break;
    case FORMAT_SMAF:
    case FORMAT_SMAF_EZWEB:
      setVoices(p, 16, 1, 120, 2);
      break;
    case FORMAT_SMAF4:
    case FORMAT_SMAF4_EZWEB:
      setVoices(p, 4, 37, 108, 1);
      p.fourVoiceFm = true;
      p.topNoteFromSong = true;
      p.voiceParamExclusive = true;
      break;
    case FORMAT_SMAF40:
      setVoices(p, 40, 0, 127, 1);
      break;
    case FORMAT_PMD:
    case FORMAT_PMD16B:
      setVoices(p, 16, 21, 119, 2);
      p.fourChannelTracks = !options.pmdfmt0;
      break;
    default:
      break;  // -3, -4 and unknown codes keep the defaults
  }
}

// The highest note that polyphony compression uses on 4-voice targets, from the song.
uint8_t topNoteFromSong() {
  int top = 72;
  for (int ch = 0; ch < CHANNELS; ++ch) {
    const uint16_t bit = uint16_t(1u << ch);
    if (!(songStats.melodicMask & bit) || !(options.channelMask & bit)) continue;
    if (options.uncompressedChannels[0] == ch + 1 || options.uncompressedChannels[1] == ch + 1)
      continue;
    if (songStats.ch[ch].notes == 0) continue;
    top =
        std::max(top, songStats.ch[ch].highNote + options.keyShift + 12 * options.octaveShift[ch]);
  }
  top = std::min((top + 11) / 12 * 12, 108);
  top = std::clamp(top, 72, 107);
  const TargetPreset& p = options.preset;
  return uint8_t(top <= p.highestNote ? top : p.highestNote);
}

bool drumBankNeeded() {
  if (songStats.melodicMask == 0xFFFF) return true;
  return songStats.bankMask != 0;
}

}  // namespace

void applyOutputPreset(FormatCode code) {
  TargetPreset& p = options.preset;
  p = TargetPreset();
  FormatCode c = code == FORMAT_SMF ? imitatedOutput(options.midmono) : code;
  setTiming(p, c);
  setHandset(p, c);
  if (options.maxwnocut != 0)
    p.polyphony = uint8_t(std::min(options.maxwnocut, p.oneVoicePerChannel ? 16 : 64));
  if (runState.forPlayback) {
    p.targetTimebase = 0;
    p.fixedTempoValue = 0;
    p.maxTimebase = 65535;
    p.maxTempo = 65535;
    p.fixedTempo = false;
  } else if (options.chgtime) {
    p.fixedTempo = true;
  }
}

void adjustForRun(FormatCode c) {
  TargetPreset& p = options.preset;
  ConversionOptions& o = options;
  switch (c) {
    case FORMAT_SMF:
      switch (o.midmono) {
        case 1:
        case 2:
          o.real &= 0x7A;
          break;
        case 3:
          o.volctlflg = false;
          o.rzmchn = 0;
          o.real &= 0x20;
          break;
        case 4:
          o.rzmchn = 0;
          o.real = 0;
          break;
        case 5:
          o.gsmode = false;
          o.real &= 0x3E;
          break;
        default:
          break;
      }
      break;
    case FORMAT_DXM:
    case FORMAT_DXM32:
      p.timebaseDivisor = uint16_t(p.targetTimebase / 24);
      p.targetTimebase = 24;
      if (c == FORMAT_DXM) o.real &= ~REAL_BEND_RANGE;
      break;
    case FORMAT_MLD:
    case FORMAT_MLD_FM16F:
      p.noteType = o.mldnote;
      o.fmphoneid = p.familyCode;  // kept after the run: the last FM conversion's family
      if (songStats.hasVoiceSamples && o.voiceOutput) {
        p.fixedTempo = true;
        p.targetTimebase = 120;
        p.fixedTempoValue = 125;
      }
      break;
    case FORMAT_MLD_PCM16:
    case FORMAT_MLD_PCM24SO:
    case FORMAT_MLD_PCM32:
    case FORMAT_MLD_PCM24D:
    case FORMAT_MLD_40:
    case FORMAT_MLD_40SO:
      p.noteType = o.mldnote;
      if (drumBankNeeded()) o.drambankflg = true;
      break;
    case FORMAT_MLD_3:
    case FORMAT_MLD_3SH:
    case FORMAT_PMD3:
      p.noteType = false;
      o.rzmchn = 0;
      break;
    case FORMAT_MLD_4S:
    case FORMAT_MLD_4:
    case FORMAT_MLD_4P:
      p.noteType = false;
      o.volctlflg = false;
      o.rzmchn = 0;
      break;
    case FORMAT_SMAF:
    case FORMAT_SMAF_EZWEB:
      p.noteType = o.mldnote;
      break;
    case FORMAT_SMAF4:
    case FORMAT_SMAF4_EZWEB:
      p.noteType = false;
      o.mmf4op = false;
      o.volctlflg = false;
      o.rzmchn = 0;
      break;
    case FORMAT_SMAF40:
      if (o.mastervol == 0 && songStats.masterVolumeMax == 0) o.mastervol = 100;
      if (songStats.melodicMask == 0xFFFF) o.drambankflg = true;
      break;
    case FORMAT_PMD:
    case FORMAT_PMD16B:
      p.noteType = o.mldnote;
      p.fourChannelTracks = !o.pmdfmt0;
      o.real &= ~REAL_BEND_RANGE;
      break;
    default:
      break;
  }
  if (o.waoncompress && p.topNoteFromSong) p.topNote = topNoteFromSong();
  if (!runState.forPlayback) {
    const bool ezPmd = outputFamily(c) == OutputFamily::PMD && p.ezwebTarget && p.noteType;
    if (!ezPmd) o.pmdtmpc4s = o.pmdtopplus = false;
    if (outputFamily(c) == OutputFamily::DXM) o.drambankflg = false;
  } else if (!o.gsmode) {
    o.drambankflg = false;
  }
}

}  // namespace vlm
