// The instruments a SMAF file defines for itself, as plain records: FM voices (2 or 4
// operators), sampled (PCM) voices, the waves they play and the user FM waveforms, decoded once
// from the voice exclusives of the setup chunk ("Mtsu") or of a Phrase file's "VOIC" chunk.
// Every field is already unpacked from its bit field and keeps the file's own code (rates 0-15,
// TL 0-63, KSL and depth codes 0-3 ...): what a code means in sound is the synthesizer's
// business. The set also holds how the score's channels select voices over time, so that
// playback can find the voice of every note. Records only ever gain fields; none is renamed or
// reordered.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vlm::smaf {

// ---- Envelope and modulation: shared by FM operators and sampled voices ----------------------

struct Envelope {
  uint8_t attackRate = 0;   // AR 0-15; 0 = the attack never advances (no sound)
  uint8_t decayRate = 0;    // DR 0-15; 0 = stays at peak
  uint8_t sustainRate = 0;  // SR 0-15; 0 = holds at the sustain level until key-off
  uint8_t releaseRate = 0;  // RR 0-15; 0 = never releases
  uint8_t sustainLevel = 0;  // SL 0-15, 3 dB a step; 15 = silence
  uint8_t totalLevel = 0;    // TL 0-63, 0.75 dB of attenuation a step
  uint8_t keyScaleLevel = 0;  // KSL code 0-3 (0, 3.0, 1.5, 6.0 dB per octave)
  bool keyScaleRate = false;  // KSR: rates grow with the pitch
  bool sustain = false;       // SUS: reacts to the hold pedal (CC 64)
  bool ignoreKeyOff = false;  // XOF: key-off does not start the release
  bool vibrato = false;       // EVB: vibrato from the voice's LFO
  uint8_t vibratoDepth = 0;   // DVB 0-3
  bool tremolo = false;       // EAM: tremolo from the voice's LFO
  uint8_t tremoloDepth = 0;   // DAM 0-3
};

// ---- FM voices -------------------------------------------------------------------------------

inline constexpr int FM_MAX_OPERATORS = 4;

struct FmOperator {
  Envelope envelope;
  uint8_t multiplier = 1;  // MULTI code 0-15 (0 = one half)
  uint8_t detune = 0;      // DT 0-7 (0 in HandyPhone voices, which have none)
  uint8_t waveform = 0;    // WS 0-31 (0-7 in HandyPhone voices); 15/23/31 may be user waveforms
  uint8_t feedback = 0;    // FB 0-7; used where the algorithm makes this operator a feedback point
  // HandyPhone voices only: EG type as stored (1 = sustained, 0 = percussive). It is already
  // folded into `envelope.sustainRate` (percussive: SR = RR), so it is informational.
  bool sustainedType = true;
  uint8_t ma7Unknown[3] = {};  // MA-7 operator bytes 5, 7 and 8, kept raw (meaning unknown)
};

// Operators of an algorithm: 0-1 use two, 2-7 use four.
inline constexpr uint8_t fmOperatorCount(uint8_t algorithm) {
  return algorithm < 2 ? 2 : 4;
}

struct FmVoice {
  uint8_t algorithm = 0;   // ALG 0-7 (the MA-3 connection set for every generation)
  uint8_t operators = 2;   // 2 or 4, from the algorithm
  uint8_t lfo = 0;         // LFO rate select 0-3 (about 1.9, 4.2, 6.1, 7.2 Hz)
  uint8_t panpot = 15;     // PANPOT 0-31: 0 full left, 15 centre, 31 full right
  bool panEnable = false;  // PE: use `panpot`
  uint8_t basicOctave = 1;  // BO: 0 = +1 octave, 1 = normal, 2 = -1, 3 = -2
  uint8_t drumKey = 0;      // the note a drum voice sounds at; 0 for melodic voices
  FmOperator op[FM_MAX_OPERATORS];  // operators 1..4 in stored order; `operators` are valid
};

// ---- Sampled voices and waves ----------------------------------------------------------------

// The root key is not stored in any sampled-voice record: a melodic sampled voice plays its
// wave at `sampleRate` on this note and transposes from it.
inline constexpr uint8_t PCM_ROOT_KEY = 60;

struct PcmVoice {
  Envelope envelope;
  uint32_t sampleRate = 0;  // Fs in Hz at which the wave plays at the root key
  uint8_t panpot = 15;      // 0-31 as in FmVoice
  bool panEnable = false;   // PE
  uint8_t lfo = 0;          // LFO rate select 0-3
  uint32_t loopStart = 0;   // LP, in samples
  uint32_t loopEnd = 0;     // EP, index of the last sample; the wave loops to LP when LP < EP
  bool romWave = false;     // RM: the wave is one of the chip's built-in waves (not in the file)
  uint8_t waveId = 0;       // id of the wave (Wave::id when !romWave, a ROM wave number otherwise)
  uint8_t rootKey = PCM_ROOT_KEY;
};

// Codings of Wave::coding are those of formats/adpcm.h (ADPCM_YAMAHA, WAVE_PCM8, ...).
struct Wave {
  uint8_t id = 0;           // the id sampled voices name
  uint8_t formatByte = 0;   // the record's own format byte, kept raw (meaning not established)
  uint32_t coding = 3;      // ADPCM_YAMAHA for every wave record of the setup chunk
  uint32_t sampleRate = 0;  // 0: the record states none, the voice's Fs applies
  std::vector<uint8_t> bytes;  // coded sample bytes, already unpacked from 7-bit groups
};

// One period of a user FM waveform (1,024 signed 16-bit samples), used by operators whose
// waveform number equals `slot` (15, 23 or 31).
inline constexpr int USER_WAVEFORM_SAMPLES = 1024;
struct UserWaveform {
  uint8_t slot = 0;
  int16_t samples[USER_WAVEFORM_SAMPLES] = {};
};

// ---- Voice records ---------------------------------------------------------------------------

// The exclusive a voice was decoded from.
enum class VoiceForm : uint8_t {
  HANDY_PHONE,  // 43 03: MA-1/MA-2 "VMA" FM voice
  MA3,          // 43 79 06 7F 01, 7-bit packed FM or PCM body
  MA5,          // 43 79 07 7F 01 (types 0-3; 2 and 3 carry an unknown 27-byte prefix)
  MA5_SHORT,    // 43 05 01: MA-5 short FM form
  MA7,          // 43 79 08 7F 21
  PHRASE,       // 43 04: Phrase file FM voice
};

enum class VoiceKind : uint8_t { FM, PCM };

// Bank values of the Mobile/MA-7 voice records and of the scores that select them.
inline constexpr uint8_t BANK_USER_MELODIC = 0x7C;
inline constexpr uint8_t BANK_USER_DRUM = 0x7D;
// HandyPhone and Phrase banks: bit 7 set is a drum bank.
inline constexpr uint8_t BANK_HANDY_DRUM = 0x80;

struct Voice {
  VoiceForm form = VoiceForm::MA3;
  VoiceKind kind = VoiceKind::FM;
  // Key the score selects the voice by. Mobile/MA-7: bank MSB (0x7C / 0x7D), bank LSB,
  // program and, for 0x7D, the drum note (the score note that triggers it). HandyPhone /
  // Phrase: `bankMsb` is the HandyPhone bank value (bit 7 = drum bank), LSB and drum note 0.
  uint8_t bankMsb = 0, bankLsb = 0, program = 0, drumNote = 0;
  bool drum = false;  // a drum voice (bank 0x7D, or a HandyPhone drum bank)
  FmVoice fm;         // valid when kind == FM
  PcmVoice pcm;       // valid when kind == PCM
};

// ---- Channel bindings ------------------------------------------------------------------------

enum class BindingKind : uint8_t {
  CUSTOM_MELODIC,  // a melodic voice of the file
  CUSTOM_DRUM,     // drum voices of the file, chosen by note
  BUILT_IN,        // a ROM voice of the chip (General-MIDI-like program, or a ROM drum set)
};

// What a score channel selects from `time` on (until its next binding). Times are stream ticks
// of the SMAF reader: milliseconds from the start of the song. Channels are the stream's
// channels (0-15, MA-7 16-31).
struct ChannelBinding {
  uint32_t time = 0;
  uint8_t channel = 0;
  BindingKind kind = BindingKind::BUILT_IN;
  uint8_t bankMsb = 0, bankLsb = 0, program = 0;  // the score's own values
  bool drum = false;  // the bank is a drum bank
};

// ---- The set of a song -----------------------------------------------------------------------

struct VoiceSet {
  std::vector<Voice> voices;    // in file order
  std::vector<Wave> waves;      // wave records of the setup chunk, in file order
  std::vector<UserWaveform> userWaveforms;
  std::vector<ChannelBinding> bindings;  // ordered by time, then channel; first ones at time 0
  bool handyPhone = false;  // bindings use the HandyPhone (bank, program) key

  // The voice a note of a channel bound by `b` plays: the melodic record of its bank and
  // program, or the drum record of its bank, program and note; null for a built-in voice or an
  // unresolved one.
  const Voice* find(const ChannelBinding& b, uint8_t note) const;
  const Wave* findWave(uint8_t id) const;
  const UserWaveform* findUserWaveform(uint8_t slot) const;

  size_t fmCount() const;
  size_t pcmCount() const;
  // Distinct (bank, program) selections of the score that use a built-in voice.
  size_t builtInPrograms() const;
  bool empty() const { return voices.empty() && waves.empty() && userWaveforms.empty(); }
};

// ---- Decoding the setup records -----------------------------------------------------------

// What a setup exclusive held.
enum class SetupRecord : uint8_t { VOICE, WAVE, USER_WAVEFORM, OTHER };

// Decodes one voice, wave or user-waveform exclusive into `set`. `payload` starts at the
// manufacturer byte 0x43 and ends before the closing F7. Records too short for their form, and
// markers or settings that carry no instrument, add nothing (OTHER).
SetupRecord decodeSetupRecord(const uint8_t* payload, uint32_t size, VoiceSet* set);

// Undoes the 7-bit packing of MA-3 bodies: each group of up to 8 bytes starts with a byte whose
// bits 6..0 are the top bits of the (up to 7) bytes that follow.
std::vector<uint8_t> unpackSevenBit(const uint8_t* packed, uint32_t size);

// "12 FM voices, 3 sampled voices, 4 waves; 2 programs use built-in voices" (empty for a set
// with no voices, waves or bindings).
std::string describeVoices(const VoiceSet& set);
// A voice record, one line per operator, for dumps.
std::string dumpVoice(const Voice& voice);

// The set of the song the last reader of this thread read; never null (an empty set for a song
// without voices or of another format). The run clears it before each reader; the SMAF reader
// fills it. A player takes the pointer and may hand it to its audio thread: the set it points
// to does not change afterwards.
std::shared_ptr<const VoiceSet> songVoices();
void setSongVoices(std::shared_ptr<const VoiceSet> set);
void clearSongVoices();

}  // namespace vlm::smaf
