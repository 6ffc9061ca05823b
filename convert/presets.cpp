// The target presets: what each output handset offers, and the corrections that depend on the
// song being converted.
#include <algorithm>

#include "convert/conversion_run.h"
#include "core/vstream.h"

namespace vlm {

namespace {

bool isImelody(FormatCode c) {
  return (c >= 24 && c <= 31) || (c >= 35 && c <= 39);
}
bool isPmd(FormatCode c) {
  return c >= 61 && c <= 63;
}

// The handset that playback and MIDI output imitate, by `midmono`.
FormatCode imitatedOutput(int midmono) {
  switch (midmono) {
    case 1:
    case 2:
      return 24;
    case 3:
      return 38;
    case 4:
      return 35;
    case 5:
      return 13;
    default:
      return 2;
  }
}

void setTiming(TargetPreset& p, FormatCode c) {
  if (c == 13 || c == 14) {
    p.maxTempo = c == 13 ? 255 : 500;
    p.targetTimebase = uint16_t(options.DxmBsTime);
  } else if (isImelody(c) || isPmd(c)) {
    p.maxTimebase = 960;
    p.maxTempo = 255;
    p.targetTimebase = uint16_t(options.MldBsTime);
  } else if (c >= 53 && c <= 56) {
    p.fixedTempo = true;
    p.oneVoicePerChannel = true;
    p.targetTimebase = uint16_t(options.MmfBsTime);
    p.fixedTempoValue = 125;
  } else if (c == 59) {
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
  switch (c) {
    case 2:
      setVoices(p, 64, 0, 127, 1);
      break;
    case 13:
      setVoices(p, 12, 0, 127, 1);
      p.channelCount = 4;
      break;
    case 14:
      setVoices(p, 32, 0, 127, 2);
      break;
    case 24:
    case 28:
      setVoices(p, 16, 21, 119, 2);
      p.oneVoicePerChannel = true;
      p.fourChannelTracks = true;
      p.familyCode = c == 24 ? 0x11 : 0x21;
      break;
    case 25:
    case 27:
      setVoices(p, c == 25 ? 16 : 32, 21, 119, 2);
      p.fourChannelTracks = true;
      break;
    case 26:
    case 29:
      setVoices(p, 24, 21, 119, 2);
      p.fourChannelTracks = true;
      p.familyCode = c == 26 ? 0x31 : 0x61;
      break;
    case 30:
    case 31:
      setVoices(p, 40, 21, 119, 3);
      p.fourChannelTracks = true;
      if (c == 31) p.familyCode = 0x31;
      break;
    case 35:
    case 36:
    case 63:
      setVoices(p, 3, c == 36 ? 56 : 45, 107, 1);
      p.oneVoicePerChannel = true;
      p.fourChannelTracks = true;
      p.psgSource = true;
      p.ezwebTarget = c == 63;
      break;
    case 37:
    case 38:
    case 39:
      setVoices(p, 4, 45, 107, 1);
      setFourVoiceFm(p);
      if (c >= 38) {
        p.topNoteFromSong = true;
        p.familyCode = 0x01;
      }
      p.voiceParamExclusive = c == 39;
      break;
    case 53:
    case 54:
      setVoices(p, 16, 1, 120, 2);
      p.ezwebTarget = c == 54;
      break;
    case 55:
    case 56:
      setVoices(p, 4, 37, 108, 1);
      p.fourVoiceFm = true;
      p.topNoteFromSong = true;
      p.voiceParamExclusive = true;
      p.ezwebTarget = c == 56;
      break;
    case 59:
      setVoices(p, 40, 0, 127, 1);
      break;
    case 61:
    case 62:
      setVoices(p, 16, 21, 119, 2);
      p.fourChannelTracks = !options.pmdfmt0;
      p.ezwebTarget = true;
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
  FormatCode c = code == 2 ? imitatedOutput(options.midmono) : code;
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
    case 2:
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
    case 13:
    case 14:
      p.timebaseDivisor = uint16_t(p.targetTimebase / 24);
      p.targetTimebase = 24;
      if (c == 13) o.real &= ~REAL_BEND_RANGE;
      break;
    case 24:
    case 28:
      p.noteType = o.mldnote;
      o.fmphoneid = p.familyCode;  // kept after the run: the last FM conversion's family
      if (songStats.hasVoiceSamples && o.voiceOutput) {
        p.fixedTempo = true;
        p.targetTimebase = 120;
        p.fixedTempoValue = 125;
      }
      break;
    case 25:
    case 26:
    case 27:
    case 29:
    case 30:
    case 31:
      p.noteType = o.mldnote;
      if (drumBankNeeded()) o.drambankflg = true;
      break;
    case 35:
    case 36:
    case 63:
      p.noteType = false;
      o.rzmchn = 0;
      break;
    case 37:
    case 38:
    case 39:
      p.noteType = false;
      o.volctlflg = false;
      o.rzmchn = 0;
      break;
    case 53:
    case 54:
      p.noteType = o.mldnote;
      break;
    case 55:
    case 56:
      p.noteType = false;
      o.mmf4op = false;
      o.volctlflg = false;
      o.rzmchn = 0;
      break;
    case 59:
      if (o.mastervol == 0 && songStats.masterVolumeMax == 0) o.mastervol = 100;
      if (songStats.melodicMask == 0xFFFF) o.drambankflg = true;
      break;
    case 61:
    case 62:
      p.noteType = o.mldnote;
      p.fourChannelTracks = !o.pmdfmt0;
      o.real &= ~REAL_BEND_RANGE;
      break;
    default:
      break;
  }
  if (o.waoncompress && p.topNoteFromSong) p.topNote = topNoteFromSong();
  if (!runState.forPlayback) {
    const bool ezPmd = c >= 61 && c <= 63 && p.ezwebTarget && p.noteType;
    if (!ezPmd) o.pmdtmpc4s = o.pmdtopplus = false;
    if (c == 13 || c == 14) o.drambankflg = false;
  } else if (!o.gsmode) {
    o.drambankflg = false;
  }
}

}  // namespace vlm
