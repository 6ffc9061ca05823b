#include "app/menu_table.h"

#include "convert/format_table.h"

namespace vlm {

namespace {

constexpr uint8_t P = MENU_POPUP;
constexpr uint8_t S = MENU_SEPARATOR;
constexpr uint8_t G = MENU_GRAYED;
constexpr uint8_t C = MENU_CHECKABLE;
constexpr uint8_t F = MENU_FORMAT_LABEL;

const MenuItem MENU[] = {
    {0, P, 0, "ファイル(&F)"},
    {1, 0, 154, "ﾌｧｲﾙを開く(&O)\tCtrl+O"},
    {1, 0, 131, "作成したﾌｧｲﾙを開く\tCtrl+R"},
    {1, S, 0, nullptr},
    {1, F, 101, nullptr},
    {1, 0, 125, "WAVEﾌｧｲﾙ作成"},
    {1, S, 0, nullptr},
    {1, P, 0, "feelsound作成"},
    {2, F, 103, nullptr},
    {2, F, 102, nullptr},
    {1, P, 0, "iﾒﾛﾃﾞｨ作成"},
    {2, F, 111, nullptr},
    {2, F, 126, nullptr},
    {2, S, 0, nullptr},
    {2, F, 108, nullptr},
    {2, F, 110, nullptr},
    {2, F, 107, nullptr},
    {2, F, 106, nullptr},
    {2, F, 105, nullptr},
    {2, F, 109, nullptr},
    {2, S, 0, nullptr},
    {2, F, 114, nullptr},
    {2, F, 116, nullptr},
    {2, F, 115, nullptr},
    {2, S, 0, nullptr},
    {2, F, 113, nullptr},
    {2, F, 112, nullptr},
    {1, P, 0, "au-PMDﾌｧｲﾙ作成"},
    {2, F, 117, nullptr},
    {2, S, 0, nullptr},
    {2, F, 119, nullptr},
    {1, P, 0, "SMAFﾌｧｲﾙ作成"},
    {2, F, 124, nullptr},
    {2, S, 0, nullptr},
    {2, F, 120, nullptr},
    {2, F, 121, nullptr},
    {2, S, 0, nullptr},
    {2, F, 122, nullptr},
    {2, F, 123, nullptr},
    {1, S, 0, nullptr},
    {1, 0, 133, "ﾌﾟﾚｲﾘｽﾄﾌｧｲﾙ作成"},
    {1, S, 0, nullptr},
    {1, C, 134, "自動変換モード"},
    {1, 0, 136, "ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ(&R)\tCtrl+P"},
    {1, S, 0, nullptr},
    {1, 0, 137, "終了(&X)"},

    {0, P, 0, "設定(&S)"},
    {1, C, 201, "初期化(key/speed/vol)"},
    {1, S, 0, nullptr},
    {1, 0, 202, "音量変更(&V)"},
    {1, 0, 203, "音色変更(&S)"},
    {1, 0, 204, "オクターブ変更(&O)"},
    {1, 0, 205, "ドラム選択(&D)"},
    {1, S, 0, nullptr},
    {1, C, 251, "常に手前に表示(&W)"},
    {1, P, 0, "コントロール表示(&C)"},
    {2, C, 260, "拡張ﾂｰﾙﾎﾞﾀﾝ"},
    {2, C, 261, "ｶｽﾀﾑﾎﾞﾀﾝ"},
    {2, S, 0, nullptr},
    {2, C, 254, "ｽｸﾛｰﾙﾊﾞｰ"},
    {2, C, 253, "ﾃﾞｨｽﾌﾟﾚｲ"},
    {2, C, 257, "ｶﾗｵｹﾃﾞｨｽﾌﾟﾚｲ"},
    {2, C, 258, "ﾁｬﾝﾈﾙﾓﾆﾀ"},
    {2, C, 252, "ﾁｬﾝﾈﾙ選択ﾊﾟﾈﾙ"},
    {2, C, 256, "ﾌﾟﾚｲﾘｽﾄ"},
    {2, S, 0, nullptr},
    {2, C, 259, "ｶﾗｵｹｽｸﾛｰﾙ(XF/KAR)"},
    {1, S, 0, nullptr},
    {1, P, 0, "音響効果設定"},
    {2, C, 206, "音響効果有効"},
    {2, S, 0, nullptr},
    {2, C, 275, "ﾓｼﾞｭﾚｰｼｮﾝ"},
    {2, C, 274, "ｽﾃﾚｵ"},
    {2, C, 272, "ﾎｰﾙﾄﾞ"},
    {2, C, 271, "ﾋﾟｯﾁﾍﾞﾝﾄﾞ"},
    {2, C, 276, "ﾋﾟｯﾁﾍﾞﾝﾄﾞﾚﾝｼﾞ"},
    {2, C, 277, "その他"},
    {2, S, 0, nullptr},
    {2, C, 229, "ｽﾃﾚｵ左最大"},
    {2, C, 225, "高音優先"},
    {2, C, 278, "ﾋﾟｯﾁﾍﾞﾝﾄﾞ音階展開"},
    {2, C, 279, "ﾋﾟｯﾁﾍﾞﾝﾄﾞ省ｴﾈ(0.5半音)"},
    {2, C, 234, "ﾃﾝﾎﾟ時間展開"},
    {1, P, 0, "変換オプション設定"},
    {2, C, 221, "先頭休符カット"},
    {2, C, 302, "終了休符カット"},
    {2, C, 228, "先頭4分休符挿入"},
    {2, C, 223, "終了4分休符付加"},
    {2, S, 0, nullptr},
    {2, 0, 233, "ﾁｬﾝﾈﾙ設定\tCtrl+W"},
    {1, S, 0, nullptr},
    {1, P, 0, "変換ｲﾒｰｼﾞ試聴"},
    {2, C, 284, "3和音(PSG音源)"},
    {2, C, 283, "4和音(FM音源)"},
    {2, C, 282, "8和音(FM音源)"},
    {2, C, 281, "16和音(FM音源)"},
    {2, S, 0, nullptr},
    {2, C, 285, "12和音(feelsound)"},
    {1, P, 0, "再生不具合設定"},
    {2, C, 305, "GMﾘｾｯﾄ挿入"},
    {2, C, 307, "GSﾊﾞﾝｸ切替対応"},
    {2, C, 301, "ｴｸｽｸﾙｰｼﾌﾞ有効"},
    {2, S, 0, nullptr},
    {2, C, 304, "先頭4分休符挿入"},
    {2, C, 222, "終了4分休符付加"},
    {2, S, 0, nullptr},
    {2, C, 303, "自動再生(ﾄﾞﾛｯﾌﾟ時)"},

    {0, P, 0, "再生(&P)"},
    {1, 0, 151, "再生(&P)\tSpace"},
    {1, 0, 152, "停止(&S)\tPeriod"},
    {1, S, 0, nullptr},
    {1, G, 161, "前曲移動(&B)\tCtrl+B"},
    {1, G, 162, "次曲移動(&N)\tCtrl+N"},
    {1, G, 163, "先頭曲移動(&T)\tCtrl+T"},
    {1, S, 0, nullptr},
    {1, 0, 164, "再生・変換範囲選択\tCtrl+X"},
    {1, S, 0, nullptr},
    {1, C, 362, "1曲繰返し(&L)"},
    {1, C, 363, "全曲繰返し(&A)"},
    {1, C, 364, "2回演奏(ﾙｰﾌﾟ確認)"},
    {1, C, 366, "イントロ演奏(&I)"},
    {1, C, 367, "着信音指定範囲再生"},
    {1, 0, 361, "曲順シャッフル(&R)"},
    {1, S, 0, nullptr},
    {1, 0, 365, "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ再生(&V)\tCtrl+V"},

    {0, P, 0, "ツール(&T)"},
    {1, 0, 135, "Outlook送信\tCtrl+M"},
    {1, S, 0, nullptr},
    {1, 0, 255, "設定ソフト起動"},

    {0, P, 0, "ヘルプ(&H)"},
    {1, 0, 402, "目次(&C)\tF1"},
    {1, 0, 404, "readme.txtを読む(&R)"},
    {1, 0, 403, "ホームページに行く(&W)"},
    {1, S, 0, nullptr},
    {1, 0, 401, "このプログラムについて(&A)"},
};

const OutputFormat* formatOfCommand(int id) {
  int count = 0;
  const OutputFormat* formats = outputFormats(&count);
  for (int i = 0; i < count; ++i)
    if (formats[i].command == id) return &formats[i];
  return nullptr;
}

}  // namespace

const MenuItem* menuTable(int* count) {
  *count = int(sizeof MENU / sizeof MENU[0]);
  return MENU;
}

std::string menuItemText(const MenuItem& item) {
  if (item.flags & MENU_FORMAT_LABEL) {
    const OutputFormat* f = formatOfCommand(item.id);
    return f && f->label ? f->label : "";
  }
  return item.text ? item.text : "";
}

std::string plainMenuText(const std::string& text) {
  std::string t = text.substr(0, text.find('\t'));
  // "(&X)" at the end of a Japanese label is only the mnemonic.
  if (t.size() >= 4 && t.compare(t.size() - 4, 2, "(&") == 0 && t.back() == ')')
    t.resize(t.size() - 4);
  std::string out;
  for (char c : t)
    if (c != '&') out += c;
  return out;
}

std::string menuTextOf(int id) {
  if (id <= 0) return "";
  int count = 0;
  const MenuItem* items = menuTable(&count);
  for (int i = 0; i < count; ++i) {
    if (items[i].id != id || (items[i].flags & (MENU_POPUP | MENU_SEPARATOR))) continue;
    std::string text = menuItemText(items[i]);
    size_t tab = text.find('\t');
    if (tab != std::string::npos) text.resize(tab);
    return text;
  }
  return "";
}

}  // namespace vlm
