// gen_voice_names: writes the voice-name tables of the data folder in Shift-JIS.
//
//   build/tools/gen_voice_names data
//
// mldname.dat: the 128 General MIDI program names, as a Japanese ringtone tool shows them
// (half-width katakana, a few kanji); dramname.dat: rhythm-note names by note number (the
// General MIDI percussion notes and the usual extensions around them, other notes empty);
// dxmname.dat: the names of the feelsound program list, sixteen families of eight. One name per
// line, CR LF, each at most 22 bytes once converted (checked here).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"
#include "util/files.h"

namespace {

const char* const GM_PROGRAMS[128] = {
    "ｱｺｰｽﾃｨｯｸﾋﾟｱﾉ",  "ﾌﾞﾗｲﾄﾋﾟｱﾉ",
    "ｴﾚｸﾄﾘｯｸｸﾞﾗﾝﾄﾞ", "ﾎﾝｷｰﾄﾝｸﾋﾟｱﾉ",
    "ｴﾚｸﾄﾘｯｸﾋﾟｱﾉ1",  "ｴﾚｸﾄﾘｯｸﾋﾟｱﾉ2",
    "ﾊｰﾌﾟｼｺｰﾄﾞ",     "ｸﾗﾋﾞﾈｯﾄ",
    "ﾁｪﾚｽﾀ",         "ｸﾞﾛｯｹﾝｼｭﾋﾟｰﾙ",
    "ｵﾙｺﾞｰﾙ",        "ﾋﾞﾌﾞﾗﾌｫﾝ",
    "ﾏﾘﾝﾊﾞ",         "ｼﾛﾌｫﾝ",
    "ﾁｭｰﾌﾞﾗｰﾍﾞﾙ",    "ﾀﾞﾙｼﾏｰ",
    "ﾄﾞﾛｰﾊﾞｰｵﾙｶﾞﾝ",  "ﾊﾟｰｶｯｼﾌﾞｵﾙｶﾞﾝ",
    "ﾛｯｸｵﾙｶﾞﾝ",      "ﾁｬｰﾁｵﾙｶﾞﾝ",
    "ﾘｰﾄﾞｵﾙｶﾞﾝ",     "ｱｺｰﾃﾞｨｵﾝ",
    "ﾊｰﾓﾆｶ",         "ﾀﾝｺﾞｱｺｰﾃﾞｨｵﾝ",
    "ﾅｲﾛﾝｷﾞﾀｰ",      "ｽﾁｰﾙｷﾞﾀｰ",
    "ｼﾞｬｽﾞｷﾞﾀｰ",     "ｸﾘｰﾝｷﾞﾀｰ",
    "ﾐｭｰﾄｷﾞﾀｰ",      "ｵｰﾊﾞｰﾄﾞﾗｲﾌﾞｷﾞﾀｰ",
    "ﾃﾞｨｽﾄｰｼｮﾝｷﾞﾀｰ", "ｷﾞﾀｰﾊｰﾓﾆｸｽ",
    "ｱｺｰｽﾃｨｯｸﾍﾞｰｽ",  "ﾌｨﾝｶﾞｰﾍﾞｰｽ",
    "ﾋﾟｯｸﾍﾞｰｽ",      "ﾌﾚｯﾄﾚｽﾍﾞｰｽ",
    "ｽﾗｯﾌﾟﾍﾞｰｽ1",    "ｽﾗｯﾌﾟﾍﾞｰｽ2",
    "ｼﾝｾﾍﾞｰｽ1",      "ｼﾝｾﾍﾞｰｽ2",
    "ﾊﾞｲｵﾘﾝ",        "ｳﾞｨｵﾗ",
    "ﾁｪﾛ",           "ｺﾝﾄﾗﾊﾞｽ",
    "ﾄﾚﾓﾛｽﾄﾘﾝｸﾞｽ",   "ﾋﾟﾂｨｶｰﾄｽﾄﾘﾝｸﾞｽ",
    "ﾊｰﾌﾟ",          "ﾃｨﾝﾊﾟﾆ",
    "ｽﾄﾘﾝｸﾞｽ1",      "ｽﾛｰｽﾄﾘﾝｸﾞｽ",
    "ｼﾝｾｽﾄﾘﾝｸﾞｽ1",   "ｼﾝｾｽﾄﾘﾝｸﾞｽ2",
    "ｸﾜｲｱ ｱｰ",       "ﾎﾞｲｽ ｳｰ",
    "ｼﾝｾﾎﾞｲｽ",       "ｵｰｹｽﾄﾗﾋｯﾄ",
    "ﾄﾗﾝﾍﾟｯﾄ",       "ﾄﾛﾝﾎﾞｰﾝ",
    "ﾁｭｰﾊﾞ",         "ﾐｭｰﾄﾄﾗﾝﾍﾟｯﾄ",
    "ﾌﾚﾝﾁﾎﾙﾝ",       "ﾌﾞﾗｽｾｸｼｮﾝ",
    "ｼﾝｾﾌﾞﾗｽ1",      "ｼﾝｾﾌﾞﾗｽ2",
    "ｿﾌﾟﾗﾉｻｯｸｽ",     "ｱﾙﾄｻｯｸｽ",
    "ﾃﾅｰｻｯｸｽ",       "ﾊﾞﾘﾄﾝｻｯｸｽ",
    "ｵｰﾎﾞｴ",         "ｲﾝｸﾞﾘｯｼｭﾎﾙﾝ",
    "ﾊﾞｽｰﾝ",         "ｸﾗﾘﾈｯﾄ",
    "ﾋﾟｯｺﾛ",         "ﾌﾙｰﾄ",
    "ﾘｺｰﾀﾞｰ",        "ﾊﾟﾝﾌﾙｰﾄ",
    "ﾎﾞﾄﾙﾌﾞﾛｰ",      "尺八",
    "ﾎｲｯｽﾙ",         "ｵｶﾘﾅ",
    "ｽｸｴｱﾘｰﾄﾞ",      "ﾉｺｷﾞﾘﾘｰﾄﾞ",
    "ｶﾗｲｵﾍﾟﾘｰﾄﾞ",    "ﾁﾌﾘｰﾄﾞ",
    "ﾁｬﾗﾝｹﾞﾘｰﾄﾞ",    "ﾎﾞｲｽﾘｰﾄﾞ",
    "ﾌｨﾌｽﾘｰﾄﾞ",      "ﾍﾞｰｽ+ﾘｰﾄﾞ",
    "ﾆｭｰｴｲｼﾞﾊﾟｯﾄﾞ",  "ｳｫｰﾑﾊﾟｯﾄﾞ",
    "ﾎﾟﾘｼﾝｾﾊﾟｯﾄﾞ",   "ｸﾜｲｱﾊﾟｯﾄﾞ",
    "ﾎﾞｳﾄﾞﾊﾟｯﾄﾞ",    "ﾒﾀﾘｯｸﾊﾟｯﾄﾞ",
    "ﾊﾛｰﾊﾟｯﾄﾞ",      "ｽｳｨｰﾌﾟﾊﾟｯﾄﾞ",
    "ﾚｲﾝ",           "ｻｳﾝﾄﾞﾄﾗｯｸ",
    "ｸﾘｽﾀﾙ",         "ｱﾄﾓｽﾌｨｱ",
    "ﾌﾞﾗｲﾄﾈｽ",       "ｺﾞﾌﾞﾘﾝ",
    "ｴｺｰ",           "SF",
    "ｼﾀｰﾙ",          "ﾊﾞﾝｼﾞｮｰ",
    "三味線",        "琴",
    "ｶﾘﾝﾊﾞ",         "ﾊﾞｸﾞﾊﾟｲﾌﾟ",
    "ﾌｨﾄﾞﾙ",         "ｼｬﾅｲ",
    "ﾃｨﾝｸﾙﾍﾞﾙ",      "ｱｺﾞｺﾞ",
    "ｽﾁｰﾙﾄﾞﾗﾑ",      "ｳｯﾄﾞﾌﾞﾛｯｸ",
    "太鼓",          "ﾒﾛﾃﾞｨｯｸﾀﾑ",
    "ｼﾝｾﾄﾞﾗﾑ",       "ﾘﾊﾞｰｽｼﾝﾊﾞﾙ",
    "ﾌﾚｯﾄﾉｲｽﾞ",      "ﾌﾞﾚｽﾉｲｽﾞ",
    "波の音",        "鳥のさえずり",
    "ﾃﾚﾌｫﾝﾍﾞﾙ",      "ﾍﾘｺﾌﾟﾀｰ",
    "拍手",          "銃声",
};

struct NamedNote {
  int note;
  const char* name;
};
const NamedNote DRUM_NOTES[] = {
    {27, "ﾊｲQ"},           {28, "ｽﾗｯﾌﾟ"},        {29, "ｽｸﾗｯﾁﾌﾟｯｼｭ"},
    {30, "ｽｸﾗｯﾁﾌﾟﾙ"},      {31, "ｽﾃｨｯｸｽ"},       {32, "ｽｸｴｱｸﾘｯｸ"},
    {33, "ﾒﾄﾛﾉｰﾑｸﾘｯｸ"},    {34, "ﾒﾄﾛﾉｰﾑﾍﾞﾙ"},    {35, "ｱｺｰｽﾃｨｯｸﾊﾞｽﾄﾞﾗﾑ"},
    {36, "ﾊﾞｽﾄﾞﾗﾑ1"},      {37, "ｻｲﾄﾞｽﾃｨｯｸ"},    {38, "ｱｺｰｽﾃｨｯｸｽﾈｱ"},
    {39, "ﾊﾝﾄﾞｸﾗｯﾌﾟ"},     {40, "ｴﾚｸﾄﾘｯｸｽﾈｱ"},   {41, "ﾛｰﾌﾛｱﾀﾑ"},
    {42, "ｸﾛｰｽﾞﾄﾞﾊｲﾊｯﾄ"},  {43, "ﾊｲﾌﾛｱﾀﾑ"},      {44, "ﾍﾟﾀﾞﾙﾊｲﾊｯﾄ"},
    {45, "ﾛｰﾀﾑ"},          {46, "ｵｰﾌﾟﾝﾊｲﾊｯﾄ"},   {47, "ﾛｰﾐｯﾄﾞﾀﾑ"},
    {48, "ﾊｲﾐｯﾄﾞﾀﾑ"},      {49, "ｸﾗｯｼｭｼﾝﾊﾞﾙ1"},  {50, "ﾊｲﾀﾑ"},
    {51, "ﾗｲﾄﾞｼﾝﾊﾞﾙ1"},    {52, "ﾁｬｲﾆｰｽﾞｼﾝﾊﾞﾙ"}, {53, "ﾗｲﾄﾞﾍﾞﾙ"},
    {54, "ﾀﾝﾊﾞﾘﾝ"},        {55, "ｽﾌﾟﾗｯｼｭｼﾝﾊﾞﾙ"}, {56, "ｶｳﾍﾞﾙ"},
    {57, "ｸﾗｯｼｭｼﾝﾊﾞﾙ2"},   {58, "ﾋﾞﾌﾞﾗｽﾗｯﾌﾟ"},   {59, "ﾗｲﾄﾞｼﾝﾊﾞﾙ2"},
    {60, "ﾊｲﾎﾞﾝｺﾞ"},       {61, "ﾛｰﾎﾞﾝｺﾞ"},      {62, "ﾐｭｰﾄﾊｲｺﾝｶﾞ"},
    {63, "ｵｰﾌﾟﾝﾊｲｺﾝｶﾞ"},   {64, "ﾛｰｺﾝｶﾞ"},       {65, "ﾊｲﾃｨﾝﾊﾞﾚｽ"},
    {66, "ﾛｰﾃｨﾝﾊﾞﾚｽ"},     {67, "ﾊｲｱｺﾞｺﾞ"},      {68, "ﾛｰｱｺﾞｺﾞ"},
    {69, "ｶﾊﾞｻ"},          {70, "ﾏﾗｶｽ"},         {71, "ｼｮｰﾄﾎｲｯｽﾙ"},
    {72, "ﾛﾝｸﾞﾎｲｯｽﾙ"},     {73, "ｼｮｰﾄｷﾞﾛ"},      {74, "ﾛﾝｸﾞｷﾞﾛ"},
    {75, "ｸﾗﾍﾞｽ"},         {76, "ﾊｲｳｯﾄﾞﾌﾞﾛｯｸ"},  {77, "ﾛｰｳｯﾄﾞﾌﾞﾛｯｸ"},
    {78, "ﾐｭｰﾄｸｲｰｶ"},      {79, "ｵｰﾌﾟﾝｸｲｰｶ"},    {80, "ﾐｭｰﾄﾄﾗｲｱﾝｸﾞﾙ"},
    {81, "ｵｰﾌﾟﾝﾄﾗｲｱﾝｸﾞﾙ"}, {82, "ｼｪｲｶｰ"},        {83, "ｼﾞﾝｸﾞﾙﾍﾞﾙ"},
    {84, "ﾍﾞﾙﾂﾘｰ"},        {85, "ｶｽﾀﾈｯﾄ"},       {86, "ﾐｭｰﾄｽﾙﾄﾞ"},
    {87, "ｵｰﾌﾟﾝｽﾙﾄﾞ"},
};

// The feelsound list: sixteen families, eight variants each.
const char* const DXM_FAMILIES[16] = {
    "ﾋﾟｱﾉ", "ﾍﾞﾙ",  "ｵﾙｶﾞﾝ",   "ｷﾞﾀｰ",     "ﾍﾞｰｽ",  "ｽﾄﾘﾝｸﾞｽ", "ｺｰﾗｽ",     "ﾌﾞﾗｽ",
    "ﾘｰﾄﾞ", "ﾌﾙｰﾄ", "ｼﾝｾﾘｰﾄﾞ", "ｼﾝｾﾊﾟｯﾄﾞ", "ｼﾝｾFX", "和楽器",  "ﾊﾟｰｶｯｼｮﾝ", "効果音",
};
const char* const DXM_VARIANTS[8] = {
    "ｽﾀﾝﾀﾞｰﾄﾞ", "ｿﾌﾄ", "ﾌﾞﾗｲﾄ", "ﾒﾀﾙ", "ｳｫｰﾑ", "ﾜｲﾄﾞ", "ﾃﾞﾁｭｰﾝ", "ﾛｰﾌｧｲ",
};

bool writeTable(const std::string& folder, const char* file,
                const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string sjis = vlm::utf8ToSjis(names[i]);
    if (sjis.size() > 22 || sjis.find('?') != std::string::npos) {
      std::fprintf(stderr, "gen_voice_names: %s line %zu does not fit: %s\n", file, i + 1,
                   names[i].c_str());
      return false;
    }
    out += sjis;
    out += "\r\n";
  }
  const std::string path = folder + "/" + file;
  if (!vlm::saveFile(path.c_str(), out.data(), out.size())) {
    std::fprintf(stderr, "gen_voice_names: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gen_voice_names DATA_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<std::string> mld(GM_PROGRAMS, GM_PROGRAMS + 128);
  std::vector<std::string> drum(128);
  for (const NamedNote& n : DRUM_NOTES) drum[size_t(n.note)] = n.name;
  std::vector<std::string> dxm;
  for (const char* family : DXM_FAMILIES)
    for (const char* variant : DXM_VARIANTS) dxm.push_back(std::string(family) + " " + variant);
  const bool ok = writeTable(folder, "mldname.dat", mld) &&
                  writeTable(folder, "dramname.dat", drum) &&
                  writeTable(folder, "dxmname.dat", dxm);
  return ok ? 0 : 1;
}
