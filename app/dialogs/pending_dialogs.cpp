// Dialogs still to be given their tables: each opens with its caption only.
#include "app/dialogs/dialog_procs.h"

namespace vlm::dialogs {

#define PENDING(fn, res, cap) \
  TableDialog* fn(QWidget* parent) { return new TableDialog(res, cap, {}, parent); }
PENDING(makeVolumeDialog, DLG_VOLUME, "音量の指定")
PENDING(makePropertiesDialog, DLG_PROPERTIES, "ファイルプロパティ")
PENDING(makeRangeDialog, DLG_RANGE, "再生・変換範囲指定")
PENDING(makeConversionDialog, DLG_CONVERSION, "変換設定")
PENDING(makeAboutDialog, DLG_ABOUT, "このプログラムについて")
PENDING(makeMailDialog, DLG_MAIL, "メール送信")
PENDING(makeVoicesDialog, DLG_VOICES, "音色の指定")
PENDING(makeOctaveDialog, DLG_OCTAVE, "オクターブの指定")
PENDING(makeDrumsDialog, DLG_DRUMS, "ドラム選択")
PENDING(makeChannelsDialog, DLG_CHANNELS, "チャンネル＆和音数圧縮設定")
PENDING(makeDetailsDialog, DLG_DETAILS, "変換詳細設定(隠し機能)")
PENDING(makeTextInfoDialog, DLG_TEXT_INFO, "テキスト情報設定(隠し機能)")

}  // namespace vlm::dialogs
