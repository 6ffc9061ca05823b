// Byte format shared by i-melody (.mld, "melo") and EZweb PMD (.pmd, "cmid") files: container
// ids, header offsets, information chunk ids and the event codes of the track data.
#pragma once

#include <cstdint>

namespace vlm::mld {

inline constexpr uint8_t MAGIC_MELO[4] = {'m', 'e', 'l', 'o'};
inline constexpr uint8_t MAGIC_CMID[4] = {'c', 'm', 'i', 'd'};

// Header: magic, 32-bit file length - 8, 16-bit header length, data type, sub-type, tracks.
inline constexpr uint32_t OFFSET_FILE_LENGTH = 4;
inline constexpr uint32_t OFFSET_HEADER_LENGTH = 8;
inline constexpr uint32_t OFFSET_DATA_TYPE = 10;
inline constexpr uint32_t OFFSET_SUB_TYPE = 11;
inline constexpr uint32_t OFFSET_TRACK_COUNT = 12;
inline constexpr uint32_t HEADER_FIXED_SIZE = 13;   // up to the first information chunk
inline constexpr uint32_t HEADER_LENGTH_BASE = 10;  // header length counts from here

inline constexpr uint8_t DATA_TYPE_PLAIN = 1;
inline constexpr uint8_t DATA_TYPE_LYRICS = 2;
inline constexpr uint8_t SUB_TYPE_PLAIN = 1;
inline constexpr uint8_t SUB_TYPE_LYRICS = 0x08;
inline constexpr uint8_t SUB_TYPE_KARAOKE_ONLY = 0x04;

// Information chunks: 4-byte id, 16-bit length, data.
inline constexpr char CHUNK_SORC[] = "sorc";
inline constexpr char CHUNK_TITL[] = "titl";
inline constexpr char CHUNK_COPY[] = "copy";
inline constexpr char CHUNK_PROT[] = "prot";
inline constexpr char CHUNK_DATE[] = "date";
inline constexpr char CHUNK_VERS[] = "vers";
inline constexpr char CHUNK_NOTE[] = "note";
inline constexpr char CHUNK_EXST[] = "exst";
inline constexpr char CHUNK_CUEP[] = "cuep";
inline constexpr uint32_t INFO_HEAD_SIZE = 6;

// Track chunk: "trac", 32-bit length, event data.
inline constexpr char CHUNK_TRAC[] = "trac";
inline constexpr uint32_t TRACK_HEAD_SIZE = 8;
inline constexpr int MAX_TRACK_CHUNKS = 4;
inline constexpr int VOICES_PER_TRACK = 4;

inline constexpr uint32_t MAX_DELTA = 255;
inline constexpr uint32_t MAX_GATE = 255;
inline constexpr uint32_t GATE_CONTINUE_STEP = 254;  // a long note is struck again this later

// Note ranges of the two note forms.
inline constexpr int NARROW_LOW = 45, NARROW_HIGH = 107;  // 2-byte notes
inline constexpr int WIDE_LOW = 21, WIDE_HIGH = 119;      // 3-byte notes with octave bits
inline constexpr int KEY_BASE = 45;
inline constexpr int KEY_BASE_LOW = 21;   // notes 21..44, octave bits 2 (two octaves down)
inline constexpr int KEY_BASE_HIGH = 57;  // notes 108..119, octave bits 1 (one octave up)
inline constexpr int WIDE_SPLIT_LOW = 44, WIDE_SPLIT_HIGH = 108;
inline constexpr uint8_t OCTAVE_UP = 1, OCTAVE_DOWN_TWO = 2;
inline constexpr int RHYTHM_NOTE_OFFSET = 10;  // rhythm notes of "melo" files

// Status byte of every non-note event; the code follows.
inline constexpr uint8_t EV_ESCAPE = 0xFF;
inline constexpr uint8_t EV_MASTER_VOLUME = 0xB0;
inline constexpr uint8_t EV_RHYTHM_PART = 0xBA;
inline constexpr uint8_t EV_TEMPO = 0xC0;  // + timebase code
inline constexpr uint8_t EV_CUE = 0xD0;
inline constexpr uint8_t EV_PARAMETER = 0xDD;
inline constexpr uint8_t EV_NOP = 0xDE;
inline constexpr uint8_t EV_END = 0xDF;
inline constexpr uint8_t EV_TIMBRE_LOW = 0xE0;
inline constexpr uint8_t EV_TIMBRE_HIGH = 0xE1;
inline constexpr uint8_t EV_VOLUME = 0xE2;
inline constexpr uint8_t EV_PAN = 0xE3;
inline constexpr uint8_t EV_BEND = 0xE4;
inline constexpr uint8_t EV_CHANNEL = 0xE5;
inline constexpr uint8_t EV_EXPRESSION = 0xE6;
inline constexpr uint8_t EV_BEND_RANGE = 0xE7;
inline constexpr uint8_t EV_MODULATION = 0xEA;
inline constexpr uint8_t EV_EXCLUSIVE = 0xF0;
inline constexpr uint8_t EV_EXCLUSIVE_4VOICE = 0xF1;
inline constexpr uint8_t EV_LYRIC = 0xF2;
inline constexpr uint8_t EV_FAMILY = 0xFF;
inline constexpr uint8_t EV_LONG_FIRST = 0xF0;  // codes from here carry a 16-bit length

inline constexpr uint32_t MAX_LYRIC_TEXT = 65500;

// Handset families.
inline constexpr uint8_t FAMILY_NONE = 0x00;
inline constexpr uint8_t FAMILY_4VOICE = 0x01;
inline constexpr uint8_t FAMILY_11 = 0x11;
inline constexpr uint8_t FAMILY_21 = 0x21;
inline constexpr uint8_t FAMILY_31 = 0x31;
inline constexpr uint8_t FAMILY_61 = 0x61;

inline constexpr uint32_t VOICE_EXCLUSIVE_DATA = 40;  // 4 voices x 10 bytes
inline constexpr uint32_t VOICE_PARAM_BYTES = 8;      // written of each 13-byte table entry
inline constexpr uint32_t VOICE_PARAM_ENTRY = 13;

}  // namespace vlm::mld
