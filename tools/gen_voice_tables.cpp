// gen_voice_tables: writes core/voice_tables.cpp, the five FM voice tables.
//
//   build/tools/gen_voice_tables > core/voice_tables.cpp
//
// The first records are the fixed ones the formats use. Every other byte is our own: drawn from a
// splitmix64 sequence seeded by (table, record, attempt), shaped like FM operator data (header
// bytes, then five bytes per operator with attack/decay/sustain/release nibbles, a total level,
// a waveform), and redrawn until the record is unambiguous for the lookups:
//   - 2- and 4-operator tables: records differ from each other also after the masking of the
//     second lookup pass (byte 1 cleared, operator bytes ANDed with F7 CC CC E3 07);
//   - the alternative 2-operator table differs, exactly and masked, from every main record and
//     from its own other records;
//   - extended tables: records differ in their first 4 bytes, so even a cut-short record that
//     still has 4 bytes identifies one sound.
// The output depends on nothing but this file, so regenerating gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int RECORDS = 189;
constexpr int RECORDS_ALT = 128;
constexpr uint8_t OPERATOR_MASK[5] = {0xF7, 0xCC, 0xCC, 0xE3, 0x07};

constexpr uint8_t FM2_FIRST[12] = {0x60, 0x01, 0x14, 0x52, 0xF4, 0x3A,
                                   0xA0, 0x14, 0x62, 0xF7, 0x00, 0xA0};
constexpr uint8_t FM4_FIRST[22] = {0x65, 0x01, 0x15, 0xE1, 0xB5, 0x3E, 0xA0, 0x11,
                                   0xF1, 0xB8, 0x02, 0xA0, 0x15, 0x41, 0xAB, 0x64,
                                   0xA0, 0x15, 0x71, 0xAD, 0x00, 0xA0};
constexpr uint8_t EXT2_FIRST[18] = {0x79, 0x40, 0x27, 0x34, 0x72, 0x42, 0x02, 0x40, 0x10,
                                    0x2B, 0x17, 0x62, 0x73, 0x02, 0x00, 0x41, 0x10, 0x00};

uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

struct Draw {
  uint64_t state;
  Draw(int table, int record, int attempt)
      : state(uint64_t(table) << 40 | uint64_t(record) << 16 | uint64_t(attempt)) {}
  uint8_t byte() { return uint8_t(splitmix(state) >> 24); }
  int range(int n) { return int(splitmix(state) >> 33) % n; }
};

// One operator: multiplier and flags, release/decay nibbles, attack/sustain nibbles, total level
// with key scaling, waveform. Carriers (last operator) get a low total level so they sound.
void drawOperator(Draw& d, uint8_t* op, bool carrier) {
  op[0] = uint8_t((d.range(16) << 4) | (d.byte() & 0x0F));
  op[1] = uint8_t(((2 + d.range(14)) << 4) | d.range(16));
  op[2] = uint8_t(((8 + d.range(8)) << 4) | d.range(16));
  const int level = carrier ? d.range(12) : 8 + d.range(48);
  op[3] = uint8_t((level << 2) | d.range(4));
  op[4] = uint8_t((d.range(32) << 3) | d.range(8));
}

void drawFm(Draw& d, uint8_t* r, int operators) {
  r[0] = uint8_t(0x40 | d.range(64));              // basic octave and panning
  r[1] = uint8_t((d.range(4) << 6) | d.range(8));  // LFO and algorithm
  for (int k = 0; k < operators; ++k) drawOperator(d, r + 2 + 5 * k, k == operators - 1);
}

void drawExt(Draw& d, uint8_t* r, int size) {
  r[0] = uint8_t(0x40 | d.range(64));
  r[1] = uint8_t(d.byte() & 0x7F);
  for (int i = 2; i < size; ++i) r[i] = uint8_t(d.byte() & 0x7F);  // extended data is 7-bit
}

void masked(const uint8_t* r, int size, uint8_t* out) {
  std::memcpy(out, r, size);
  out[1] = 0;
  for (int i = 2; i < size; ++i) out[i] &= OPERATOR_MASK[(i - 2) % 5];
}

using Table = std::vector<std::vector<uint8_t>>;

bool sameMasked(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  uint8_t x[34];
  uint8_t y[34];
  masked(a.data(), int(a.size()), x);
  masked(b.data(), int(b.size()), y);
  return std::memcmp(x, y, a.size()) == 0;
}

bool clashesFm(const std::vector<uint8_t>& r, const Table& t, const Table* other) {
  for (const auto& o : t)
    if (o == r || sameMasked(o, r)) return true;
  if (other)
    for (const auto& o : *other)
      if (o == r || sameMasked(o, r)) return true;
  return false;
}

bool clashesExt(const std::vector<uint8_t>& r, const Table& t) {
  for (const auto& o : t)
    if (std::memcmp(o.data(), r.data(), 4) == 0) return true;
  return false;
}

// Draws `records` records of `size` bytes for table `id`: record 0 is `first` when given, and
// a record that clashes with those drawn before is drawn again with the next attempt number.
template <typename DrawFn, typename ClashFn>
Table makeTable(int id, int records, int size, const uint8_t* first, DrawFn draw, ClashFn clashes) {
  Table t;
  for (int i = 0; i < records; ++i) {
    std::vector<uint8_t> r(size);
    if (i == 0 && first) {
      r.assign(first, first + size);
    } else {
      for (int attempt = 0;; ++attempt) {
        Draw d(id, i, attempt);
        draw(d, r.data());
        if (!clashes(r, t)) break;
      }
    }
    t.push_back(r);
  }
  return t;
}

Table makeFm(int id, int records, int operators, const uint8_t* first, const Table* other) {
  return makeTable(
      id, records, 2 + 5 * operators, first,
      [operators](Draw& d, uint8_t* r) { drawFm(d, r, operators); },
      [other](const std::vector<uint8_t>& r, const Table& t) { return clashesFm(r, t, other); });
}

Table makeExt(int id, int size, const uint8_t* first) {
  return makeTable(
      id, RECORDS, size, first, [size](Draw& d, uint8_t* r) { drawExt(d, r, size); }, clashesExt);
}

void print(const char* name, const char* dims, const Table& t) {
  std::printf("const uint8_t %s%s = {\n", name, dims);
  for (size_t i = 0; i < t.size(); ++i) {
    std::printf("    {");
    for (size_t k = 0; k < t[i].size(); ++k) {
      if (k) std::printf(k % 12 == 0 ? ",\n     " : ", ");
      std::printf("0x%02X", t[i][k]);
    }
    std::printf("},  // %zu\n", i);
  }
  std::printf("};\n\n");
}

}  // namespace

int main() {
  const Table fm2 = makeFm(1, RECORDS, 2, FM2_FIRST, nullptr);
  const Table fm2alt = makeFm(2, RECORDS_ALT, 2, nullptr, &fm2);
  const Table fm4 = makeFm(3, RECORDS, 4, FM4_FIRST, nullptr);
  const Table ext2 = makeExt(4, 18, EXT2_FIRST);
  const Table ext4 = makeExt(5, 34, nullptr);

  std::printf(
      "// The five FM voice tables. Generated by tools/gen_voice_tables.cpp; do not\n"
      "// edit: regenerate with `build/tools/gen_voice_tables > core/voice_tables.cpp`.\n"
      "// Record i < 128 is General MIDI program i, record 128..188 the rhythm sound of note\n"
      "// i - 104. The first record of each table is the fixed one the formats use; the rest is our own FM data.\n"
      "// clang-format off\n"
      "#include \"core/codec.h\"\n\n"
      "namespace vlm {\n\n");
  print("FM2_VOICES", "[VOICE_RECORDS][12]", fm2);
  print("FM2_VOICES_ALT", "[VOICE_RECORDS_ALT][12]", fm2alt);
  print("FM4_VOICES", "[VOICE_RECORDS][22]", fm4);
  print("FM2_EXT_VOICES", "[VOICE_RECORDS][18]", ext2);
  print("FM4_EXT_VOICES", "[VOICE_RECORDS][34]", ext4);
  std::printf("}  // namespace vlm\n");
  return 0;
}
