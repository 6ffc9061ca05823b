// Routing a SMAF score between the two synthesizers. The score is walked once in time order;
// each channel follows its voice bindings as their times come, and every note asks the binding
// in force which voice it plays.
#include "playback/handset_song.h"

#include <strings.h>

#include <algorithm>

#include "convert/conversion_run.h"
#include "core/codec.h"
#include "core/conversion_options.h"
#include "core/vstream.h"
#include "synth/smaf_voices.h"
#include "util/memblock.h"

#ifdef VLM_HAVE_FLUIDSYNTH
#include "platform/fluidsynth_api.h"
#endif

namespace vlm {

namespace {

constexpr uint32_t DEFAULT_TEMPO = 500000;  // microseconds per quarter note
constexpr int RPN_BEND_RANGE = 0;
constexpr int OCTAVE = 12;

struct Router {
  const smaf::VoiceSet& set;
  const SynthVoiceSet& synth;
  HandsetSong& song;
  // The binding in force on each channel (null: none yet, a built-in voice).
  const smaf::ChannelBinding* bound[CHANNELS] = {};
  size_t nextBinding = 0;

  void follow(uint32_t time) {
    while (nextBinding < set.bindings.size() && set.bindings[nextBinding].time <= time) {
      const smaf::ChannelBinding& b = set.bindings[nextBinding++];
      if (b.channel < CHANNELS) bound[b.channel] = &b;
    }
  }

  // The voice index a note plays on the handset synthesizer, or -1 for the General MIDI one.
  int32_t voiceFor(int channel, uint8_t note) const {
    const smaf::ChannelBinding* b = bound[channel];
    if (!b) return -1;
    const smaf::Voice* v = set.find(*b, note);
    if (!v) return -1;
    const size_t index = size_t(v - set.voices.data());
    if (index >= synth.voices.size() || !synth.voices[index].playable) return -1;
    return int32_t(index);
  }

  void add(double seconds, uint8_t status, uint8_t d1, uint8_t d2, bool handset, bool gm,
           int32_t voice = -1) {
    HandsetEvent e;
    e.seconds = seconds;
    e.status = status;
    e.data1 = d1;
    e.data2 = d2;
    e.toHandset = handset;
    e.toGm = gm;
    e.voice = voice;
    song.events.push_back(e);
  }
};

}  // namespace

bool wantsHandsetSynth(const smaf::VoiceSet& set) {
  if (strcasecmp(options.synth.c_str(), "gm") == 0) return false;
  return !set.voices.empty() && !voicesAreOurOwnWriters(set);
}

HandsetPlayOptions currentHandsetPlayOptions() {
  HandsetPlayOptions play;
  play.tempoScale = options.tempoRatio > 0 ? options.tempoRatio / 256.0 : 1.0;
  play.keyShift = options.keyShift;
  std::copy(std::begin(options.octaveShift), std::end(options.octaveShift), play.octaveShift);
  play.channelMask = options.channelMask;
  return play;
}

namespace {

// A melodic note moved by the key and octave shifts, folded back by octaves into the MIDI range.
uint8_t shiftedNote(const HandsetPlayOptions& play, int channel, uint8_t note) {
  int n = note + play.keyShift + OCTAVE * play.octaveShift[channel];
  while (n < 0) n += OCTAVE;
  while (n > 127) n -= OCTAVE;
  return uint8_t(n);
}

}  // namespace

void buildHandsetSong(const uint8_t* stream, uint32_t size, const smaf::VoiceSet& set,
                      const HandsetPlayOptions& play, HandsetSong* out) {
  *out = HandsetSong{};
  out->voices = synthVoicesFromSmaf(set);
  TrackTable table;
  if (!stream || loadTrackTable(table, stream, size) == 0) return;
  const double tempoScale = play.tempoScale > 0 ? play.tempoScale : 1;
  bool rhythmPart[CHANNELS] = {};
  const uint32_t timebase = table.timebase ? table.timebase : 48;
  Router r{set, *out->voices, *out, {}, 0};
  double seconds = 0;
  uint32_t lastTick = 0, tempo = DEFAULT_TEMPO;
  auto secondsAt = [&](uint32_t tick) {
    // Only for times at or after the last event: note ends within the current tempo.
    return (seconds + double(tick - lastTick) * tempo / timebase / 1e6) / tempoScale;
  };
  StreamEvent ev;
  while (nextStreamEvent(table, ev)) {
    if (ev.time > lastTick) {
      seconds += double(ev.time - lastTick) * tempo / timebase / 1e6;
      lastTick = ev.time;
    }
    r.follow(ev.time);
    const double now = seconds / tempoScale;
    const uint8_t kind = ev.status & 0xF0;
    const uint8_t ch = ev.status & 0x0F;
    if (ev.status == ST_META) {
      if (ev.metaType == META_TEMPO && ev.length >= 3) {
        const uint32_t value = getBE(ev.data, 3);
        if (value) tempo = value;
      } else if (ev.metaType == META_MASTER_VOLUME && ev.length >= 1) {
        r.add(now, HANDSET_MASTER_VOLUME, ev.data[0] & 0x7F, 0, true, false);
      }
      continue;
    }
    if (ev.status < 0x80 || ev.length < 1) continue;
    const uint8_t d1 = ev.data[0], d2 = ev.length >= 2 ? ev.data[1] : 0;
    switch (kind) {
      case ST_NOTE: {
        if (ev.length < 4 || d2 == 0 || !(play.channelMask >> ch & 1)) break;
        const uint32_t duration = getBE(ev.data + 2, 2);
        const bool rhythm =
            rhythmPart[ch] || (r.bound[ch] && r.bound[ch]->kind == smaf::BindingKind::CUSTOM_DRUM);
        const uint8_t key = rhythm ? d1 : shiftedNote(play, ch, d1);
        const int32_t voice = r.voiceFor(ch, key);
        const bool handset = voice >= 0;
        (handset ? out->handsetNotes : out->gmNotes)++;
        r.add(now, uint8_t(0x90 | ch), key, d2, handset, !handset, voice);
        const double end = secondsAt(ev.time + duration);
        r.add(end, uint8_t(0x80 | ch), key, 0, handset, !handset);
        out->seconds = std::max(out->seconds, end);
        break;
      }
      case ST_CONTROL:
        if (d1 == CC_RHYTHM_PART) {
          rhythmPart[ch] = d2 != 0;
          if (d2) r.add(now, HANDSET_DRUM_CHANNEL, ch, 0, false, true);
        } else if (d1 == CC_BEND_RANGE) {
          // Registered parameter 0 on both synthesizers.
          r.add(now, uint8_t(0xB0 | ch), CC_RPN_MSB, RPN_BEND_RANGE, true, true);
          r.add(now, uint8_t(0xB0 | ch), CC_RPN_LSB, RPN_BEND_RANGE, true, true);
          r.add(now, uint8_t(0xB0 | ch), CC_DATA_ENTRY, d2 & 0x7F, true, true);
        } else if (d1 < 0x80) {
          // The user-voice banks select nothing in a General MIDI SoundFont.
          const bool bank = d1 == 0 || d1 == 32;
          r.add(now, ev.status, d1, d2 & 0x7F, true, !bank);
        }
        break;
      case ST_PROGRAM: r.add(now, ev.status, d1 & 0x7F, 0, true, true); break;
      case ST_PITCH_BEND: r.add(now, ev.status, d1 & 0x7F, d2 & 0x7F, true, true); break;
      default: break;
    }
    out->seconds = std::max(out->seconds, now);
  }
  // Note ends come before the messages of the same moment, so a key struck again sounds.
  std::stable_sort(out->events.begin(), out->events.end(),
                   [](const HandsetEvent& a, const HandsetEvent& b) {
                     if (a.seconds != b.seconds) return a.seconds < b.seconds;
                     return (a.status & 0xF0) == 0x80 && (b.status & 0xF0) != 0x80;
                   });
}

bool prepareHandsetSong(const char* input, FormatCode code, HandsetSong* out) {
  *out = HandsetSong{};
  MemBlock stream;
  if (code <= 0 || !readInput(input, code, &stream)) return false;
  const std::shared_ptr<const smaf::VoiceSet> set = smaf::songVoices();
  bool wanted = wantsHandsetSynth(*set);
  if (wanted) {
    buildHandsetSong(stream.data, uint32_t(stream.length), *set, currentHandsetPlayOptions(),
                     out);
    wanted = out->handsetNotes > 0;
    if (!wanted) *out = HandsetSong{};
  }
  blockFree(&stream);
  return wanted;
}

#ifdef VLM_HAVE_FLUIDSYNTH
void sendToFluidSynth(fluid_synth_t* synth, const HandsetEvent& e) {
  const int ch = e.status & 0x0F;
  if (e.status == HANDSET_DRUM_CHANNEL) {
    fluid_synth_set_channel_type(synth, e.data1 & 0x0F, CHANNEL_TYPE_DRUM);
    return;
  }
  switch (e.status & 0xF0) {
    case 0x90: fluid_synth_noteon(synth, ch, e.data1, e.data2); break;
    case 0x80: fluid_synth_noteoff(synth, ch, e.data1); break;
    case 0xB0: fluid_synth_cc(synth, ch, e.data1, e.data2); break;
    case 0xC0: fluid_synth_program_change(synth, ch, e.data1); break;
    case 0xE0: fluid_synth_pitch_bend(synth, ch, e.data1 | e.data2 << 7); break;
    default: break;
  }
}
#endif

}  // namespace vlm
