// The media devices the player drives: a MIDI "sequencer" that plays a Standard MIDI File through
// the synthesizer, and a "waveaudio" device that measures wave files. The operations are those the
// player sends (open an element, play with a completion notice, stop, seek, set the time format,
// status length and position, close) and each answers with an error code whose text
// deviceErrorText gives. The player reaches devices only through MediaDevice, so its state logic
// can be exercised against a fake device.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vlm {

using DeviceError = uint32_t;
inline constexpr DeviceError DEVICE_OK = 0;
// Error codes keep the numbering of the desktop media interface the program was first made for.
inline constexpr DeviceError DEVERR_INVALID_DEVICE_ID = 257;
inline constexpr DeviceError DEVERR_UNRECOGNIZED_COMMAND = 261;
inline constexpr DeviceError DEVERR_INVALID_DEVICE_NAME = 263;
inline constexpr DeviceError DEVERR_UNSUPPORTED_FUNCTION = 274;
inline constexpr DeviceError DEVERR_FILE_NOT_FOUND = 275;
inline constexpr DeviceError DEVERR_OUTOFRANGE = 282;  // never reported to the user
inline constexpr DeviceError DEVERR_BAD_TIME_FORMAT = 293;
inline constexpr DeviceError DEVERR_INVALID_FILE = 296;
inline constexpr DeviceError DEVERR_NO_AUDIO_OUTPUT = 343;
inline constexpr DeviceError DEVERR_NO_SOUNDFONT = 344;

// Time formats of positions and lengths.
inline constexpr uint32_t TIME_FORMAT_MILLISECONDS = 0;
inline constexpr uint32_t TIME_FORMAT_SONGPTR = 0x4001;  // song pointer: sixteenth notes

// Completion notice codes.
inline constexpr uint32_t NOTIFY_SUCCESSFUL = 1;  // the song reached its end
inline constexpr uint32_t NOTIFY_SUPERSEDED = 2;
inline constexpr uint32_t NOTIFY_ABORTED = 4;
inline constexpr uint32_t NOTIFY_FAILURE = 8;

inline constexpr const char* DEVICE_SEQUENCER = "sequencer";
inline constexpr const char* DEVICE_WAVEAUDIO = "waveaudio";

// Receives the completion notice of a play. It may be called on the audio thread: owners post it
// to their own loop and never call back into the device from inside it.
using NotifyFn = std::function<void(uint32_t code)>;

class MediaDevice {
 public:
  virtual ~MediaDevice() = default;
  // Plays from `from` (in the current time format), or from the current position when null.
  // A notice still pending from an earlier play is superseded.
  virtual DeviceError play(const uint32_t* from, NotifyFn notify) = 0;
  // Stops and keeps the position; a pending notice is aborted.
  virtual DeviceError stop() = 0;
  virtual DeviceError seek(uint32_t to) = 0;
  virtual DeviceError setTimeFormat(uint32_t format) = 0;
  virtual DeviceError statusLength(uint32_t* length) = 0;
  virtual DeviceError statusPosition(uint32_t* position) = 0;
  // Stops and releases the element; the device answers DEVERR_INVALID_DEVICE_ID afterwards.
  virtual DeviceError close() = 0;
};

// Opens a device of `type` on the file `element` and waits until it is ready.
using DeviceFactory = std::function<DeviceError(const char* type, const char* element,
                                                std::unique_ptr<MediaDevice>*)>;
DeviceError openMediaDevice(const char* type, const char* element,
                            std::unique_ptr<MediaDevice>* device);
// Replaces the factory (tests plug in a fake device); an empty function restores the real one.
void setMediaDeviceFactory(DeviceFactory factory);

// ---- Channel activity ------------------------------------------------------------------------

// For each MIDI channel the highest velocity of the notes now sounding on the playing sequencer
// (0 = silent); all zero when nothing plays. Safe to call from any thread (the channel monitor
// reads it from its timer while the synthesizer's thread writes it).
void sequencerChannelLevels(uint8_t levels[16]);
// A channel message of a song that another engine plays (the handset synthesizer, which does not
// go through the sequencer's player), so that the channel monitor follows it too; and the reset
// when that engine stops.
void noteChannelMessage(uint8_t status, uint8_t data1, uint8_t data2);
void clearChannelLevels();
// For tests of the windows over a fake device: the levels to report instead of the real ones;
// null returns to the real ones.
void setSequencerChannelLevelsForTest(const uint8_t* levels);

// The text of an error code (UTF-8, at most 255 bytes).
std::string deviceErrorText(DeviceError code);

// Reads a whole file (at most 256 MiB); false when it is missing, unreadable or empty.
bool readFileBytes(const char* path, std::vector<uint8_t>* bytes);

// ---- Timing of a Standard MIDI File ----------------------------------------------------------

// The tempo map of a Standard MIDI File (also inside RIFF RMID), enough to convert between ticks,
// milliseconds and song-pointer units.
struct SongTiming {
  uint32_t division = 480;  // ticks per quarter note
  uint32_t endTick = 0;     // time of the last event of the longest track
  struct TempoChange {
    uint32_t tick;
    uint32_t microsPerQuarter;
  };
  std::vector<TempoChange> tempo;  // sorted by tick, first at tick 0

  uint64_t tickToMicros(uint32_t tick) const;
  uint32_t tickToMs(uint32_t tick) const { return uint32_t(tickToMicros(tick) / 1000); }
  uint32_t msToTick(uint32_t ms) const;
  uint32_t tickToSongPtr(uint32_t tick) const { return uint32_t(uint64_t(tick) * 4 / division); }
  uint32_t songPtrToTick(uint32_t pointer) const {
    return uint32_t(uint64_t(pointer) * division / 4);
  }
  // Song length in sixteenth notes; a final part of a sixteenth counts as one.
  uint32_t lengthSongPtr() const {
    return uint32_t((uint64_t(endTick) * 4 + division - 1) / division);
  }
};
// False when the image is not a Standard MIDI File.
bool readSongTiming(const uint8_t* image, uint32_t size, SongTiming* timing);
// Finds the MThd chunk in a plain or RIFF RMID image; false when there is none.
bool findSmfData(const uint8_t* image, uint32_t size, uint32_t* offset, uint32_t* length);

// ---- Devices that play a Standard MIDI File ---------------------------------------------------

// Waits for a device's watcher thread to end. A watcher that halts its own device (from inside
// the completion notice) cannot wait for itself, so it is let go instead.
void endWatcher(std::thread& watcher);

// A device whose element has a tempo map: positions and lengths in either time format, and the
// steps that every such device takes the same way (stop, time format, length, close). A device
// says how it halts what plays; the wave device, which plays nothing, keeps the default.
class TimedDevice : public MediaDevice {
 public:
  DeviceError stop() override;
  DeviceError setTimeFormat(uint32_t format) override;
  DeviceError statusLength(uint32_t* length) override;
  DeviceError close() override;

 protected:
  SongTiming timing_;
  uint32_t format_ = TIME_FORMAT_MILLISECONDS;
  bool open_ = false;

  // Ends what plays, keeping the position; a pending notice gets `code`.
  virtual void halt(uint32_t code) { (void)code; }
  uint32_t toUnits(uint32_t tick) const;
  uint32_t fromUnits(uint32_t value) const;
  uint32_t lengthUnits() const;
};

}  // namespace vlm
