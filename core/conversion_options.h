// All conversion settings: the settings-file keys (with their own spellings), the values the main
// window and the dialogs set, and the target preset that describes the output handset. Every
// stage reads them; the settings file that stores them is convert/options.h.
#pragma once

#include <cstdint>
#include <string>

#include "core/stages.h"

namespace vlm {

// Bits of `real`, the effects that are played and converted.
inline constexpr int REAL_OTHER_CONTROLLERS = 0x01;
inline constexpr int REAL_PITCH_BEND = 0x02;
inline constexpr int REAL_HOLD = 0x04;
inline constexpr int REAL_STEREO = 0x10;
inline constexpr int REAL_MODULATION = 0x20;
inline constexpr int REAL_BEND_RANGE = 0x40;

// What the output handset offers; rewritten by applyOutputPreset before every run.
struct TargetPreset {
  uint8_t polyphony = 64;
  uint8_t channelCount = 16;
  bool oneVoicePerChannel = false;
  uint8_t lowestNote = 0, highestNote = 127;
  uint16_t targetTimebase = 0;  // 0 keeps the source timebase
  uint16_t maxTimebase = 65535;
  uint16_t timebaseDivisor = 1;
  uint16_t maxTempo = 65535;
  bool fixedTempo = false;
  uint16_t fixedTempoValue = 0;
  int32_t formatVersion = 1;
  bool fourChannelTracks = false;
  uint8_t familyCode = 0;
  bool noteType = false;
  bool ezwebTarget = false;
  bool psgSource = false;
  bool fourVoiceFm = false;
  bool topNoteFromSong = false;
  uint8_t topNote = 0;
  bool voiceParamExclusive = false;

  bool operator==(const TargetPreset&) const = default;
};

inline constexpr int EXT_APPS = 8;
inline constexpr int CUSTOM_BUTTONS = 10;
inline constexpr int HISTORY_SLOTS = 10;
inline constexpr int MAIL_RECIPIENTS = 10;

struct ConversionOptions {
  // ---- Settings file, section "control" (window layout) ----
  int dispcolor = 4;
  bool chnpanel = true, playlist = false, karaoke = false, chmonita = false, display = true;
  bool filebutton = false, counter = true;
  int propwith = 100;
  bool karaokescroll = true, plusbtnflg = true, custbtnflg = false;

  // ---- Section "section", general and playback ----
  int files = 256;
  bool onerun = true;
  int introtime = 100;
  bool topmost = false;
  int loopmode = 0;
  int recmode = 101;
  bool autoplay = true, autoreset = false, exclusive = false, gmriset = true, gsmode = false;
  bool toprest = false, endrest = false;
  int midmono = 0;

  // ---- Section "section", conversion ----
  int real = 127;
  bool restcut = true, endrestcut = false, allchreset = false, makeendrest = false;
  bool hinote = true, panleft = false, vol70per = false;
  int mastervol = 0;
  bool chgtime = false, bendsepflg = false, bendecoflg = false, waoncompress = false;
  bool dxmmldmix = false;
  int wcomplevel = 16;
  int rzmchn = 1;
  int maxwnocut = 0;
  bool cutpriendflg = false, volctlflg = true, voltovelflg = false;
  bool drambankflg = false, dramtoneflg = false, noefficflg = false;
  bool mldnote = true, dlcrc = true, pmdfmt0 = false, pmdtmpc4s = false, pmdtopplus = false;
  bool mmf4op = false;
  int fmphoneid = 0x11;
  int kclen = 20;
  int karaokeflg = 1;
  int N504Vol = 0;
  int shamezoflg = 0;
  int DxmSize = 10240, PmdSize = 20480, EzMmfSize = 20480, JMmfSize = 5500, Mmf3Size = 11500;
  int Mld1Size = 5100, Mld2Size = 10200;
  int MldBsTime = 48, MmfBsTime = 120, DxmBsTime = 24;
  std::string soundfont;  // another .sf2 for playback; empty = the default General MIDI one
  // "handset": SMAF files that define their own voices play through the handset synthesizer;
  // "gm": every song plays through the General MIDI synthesizer.
  std::string synth = "handset";

  // ---- Key families ----
  int hsfcount = 0;
  std::string histfile[HISTORY_SLOTS + 1];  // slot 0: the file now playing
  std::string mailto;
  std::string mailtoList[MAIL_RECIPIENTS];
  std::string LoadDir, SaveDir;
  std::string appFile[EXT_APPS], appName[EXT_APPS];
  int custmenu[CUSTOM_BUTTONS] = {};

  // ---- Main window, channel panel and dialog values ----
  int keyShift = 0;           // semitones
  int tempoRatio = 256;       // 1/256 units, 256 = 100 %
  int volumePercent = 100;    // at most 500
  int velocityPercent = 100;  // at most 500
  int channelVolumePercent[16] = {100, 100, 100, 100, 100, 100, 100, 100,
                                  100, 100, 100, 100, 100, 100, 100, 100};
  int channelVelocityPercent[16] = {100, 100, 100, 100, 100, 100, 100, 100,
                                    100, 100, 100, 100, 100, 100, 100, 100};
  uint16_t channelMask = 0xFFFF;  // bit n: input channel n is converted
  uint8_t channelPriority[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  uint8_t channelMaxVoices[16] = {};     // 0 = not set
  uint8_t uncompressedChannels[2] = {};  // 1-based, 0 = none
  int octaveShift[16] = {};
  int programOverride[16] = {-1, -1, -1, -1, -1, -1, -1, -1,
                             -1, -1, -1, -1, -1, -1, -1, -1};  // -1 = keep the song's
  uint32_t rangeStart = 0, rangeEnd = 0;  // sixteenth notes; 0, 0 = the whole song
  bool cutRange = false;                  // cut the range out instead of keeping it
  bool fadeIn = false, fadeOut = false;
  bool playbackLoop = false;  // the song is written twice for playback
  bool cuePlay = false;       // only the part between the cues is written for playback
  bool voiceOutput = true;    // voice output check box of the channel panel
  // File settings dialog: vibration-linked and LED-linked channel ("バイブ連動", "LED連動").
  bool vibrationLink = false, ledLink = false;
  int vibrationChannel = 1, ledChannel = 1;  // 1..16
  bool ringtoneMode = false;  // MIDI file settings: drop exclusives and metas but tempo
  // Frequency-note handling of the assembler.
  bool freqNotesIgnored = false, freqFractionByBend = false, freqBendRange24 = false;
  // Waves made from .wav and .qcp sounds: rate code 0..4 of the ADPCM (4000, 8000, 11000, 22050,
  // 44100 Hz; check box "WAV→着声高音質(8KHz)" gives 1), and the sound's length in tenths of a
  // second as measured when it was opened (0: taken from the wave itself).
  int waveRateCode = 0;
  int waveLengthTenths = 0;

  TargetPreset preset;
};

// The six warning flags raised during one conversion.
inline constexpr int WARN_TOO_MANY_VOICES = 0;
inline constexpr int WARN_TOO_MANY_TRACKS = 1;
inline constexpr int WARN_TOO_MANY_CHANNELS = 2;
inline constexpr int WARN_VOLUME_CLIPS = 3;
inline constexpr int WARN_SIZE_LIMIT = 4;
inline constexpr int WARN_NO_SAMPLES = 5;
inline constexpr int WARNING_SLOTS = 6;
struct ConversionWarnings {
  uint8_t slot[WARNING_SLOTS] = {};
};

extern thread_local ConversionOptions options;
extern thread_local ConversionWarnings warnings;

inline void raiseWarning(int slot) {
  warnings.slot[slot] = 1;
}

}  // namespace vlm
