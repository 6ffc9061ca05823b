// The builder of table dialogs and the value rules of their edits.
#include "app/dialogs/dialog_table.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "platform/text.h"

namespace vlm::dialogs {

QString dialogText(const char* text) {
  return QCoreApplication::translate("Dialog", text);
}

bool englishDialogTexts() {
  // The name of the texts' language is itself a translated text.
  return dialogText("日本語") == QLatin1String("English");
}

namespace {
std::function<void(int, int)>& sink() {
  static std::function<void(int, int)> s;
  return s;
}
}  // namespace

void setCommandSink(std::function<void(int id, int param)> s) {
  sink() = std::move(s);
}
void sendCommand(int id, int param) {
  if (sink()) sink()(id, param);
}

// ---- Table rows ---------------------------------------------------------------------------

Control edit(int id, const char* label, int row, int col, int min, int max, Step step,
             int stepSmall, int stepCtrl, IntGetter get, IntSetter set) {
  Control c;
  c.id = id;
  c.kind = Kind::Edit;
  c.label = label;
  c.row = row;
  c.col = col;
  c.min = min;
  c.max = max;
  c.step = step;
  c.stepSmall = stepSmall;
  c.stepCtrl = stepCtrl;
  c.get = get;
  c.set = set;
  return c;
}

Control text(int id, const char* label, int row, int col, int span, int maxBytes, TextGetter get,
             TextSetter set) {
  Control c;
  c.id = id;
  c.kind = Kind::Text;
  c.label = label;
  c.row = row;
  c.col = col;
  c.span = span;
  c.maxBytes = maxBytes;
  c.getText = get;
  c.setText = set;
  return c;
}

Control check(int id, const char* label, int row, int col, IntGetter get, IntSetter set, int span) {
  Control c;
  c.id = id;
  c.kind = Kind::Check;
  c.label = label;
  c.row = row;
  c.col = col;
  c.span = span;
  c.get = get;
  c.set = set;
  return c;
}

Control radio(int id, const char* label, int row, int col, int group, int value, IntGetter get,
              IntSetter set) {
  Control c;
  c.id = id;
  c.kind = Kind::Radio;
  c.label = label;
  c.row = row;
  c.col = col;
  c.min = group;
  c.max = value;
  c.get = get;
  c.set = set;
  return c;
}

Control button(int id, const char* label, int row, int col, int span) {
  Control c;
  c.id = id;
  c.kind = Kind::Button;
  c.label = label;
  c.row = row;
  c.col = col;
  c.span = span;
  return c;
}

Control staticText(int id, const char* label, int row, int col, int span) {
  Control c;
  c.id = id;
  c.kind = Kind::Static;
  c.label = label;
  c.row = row;
  c.col = col;
  c.span = span;
  return c;
}

Control caption(const char* label, int row, int col, int span) {
  Control c;
  c.kind = Kind::Caption;
  c.label = label;
  c.row = row;
  c.col = col;
  c.span = span;
  return c;
}

// ---- Shift-JIS at the widget boundary -----------------------------------------------------

namespace {
bool isSjisLead(uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
}  // namespace

std::string cutSjis(const std::string& bytes, size_t maxBytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] == '\0') break;
    const size_t n = (isSjisLead(uint8_t(bytes[i])) && i + 1 < bytes.size()) ? 2 : 1;
    if (i + n > maxBytes) break;
    i += n;
  }
  return bytes.substr(0, i);
}

QString fromSjis(const std::string& bytes) {
  const std::string utf8 = sjisToUtf8(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::string toSjis(const QString& text, size_t maxBytes) {
  return cutSjis(utf8ToSjis(text.toStdString()), maxBytes);
}

// ---- Value rules --------------------------------------------------------------------------

int clampValue(const Control& c, int value) {
  if (c.step == Step::Ladder && c.ladder) {
    int last = c.ladder[0];
    for (const uint16_t* p = c.ladder; *p; ++p) {
      last = *p;
      if (value <= *p) return *p;
    }
    return last;
  }
  return std::clamp(value, c.min, c.max);
}

int stepValue(const Control& c, int value, int direction, bool ctrl) {
  switch (c.step) {
    case Step::None:
      return clampValue(c, value);
    case Step::Linear:
      return std::clamp(value + direction * (ctrl ? c.stepCtrl : c.stepSmall), c.min, c.max);
    case Step::Doubling:
      // stepSmall and stepCtrl are the thresholds: doubles below stepCtrl, halves above
      // stepSmall; 0 and 1 pass into each other.
      if (direction > 0) {
        if (value >= c.stepCtrl) return clampValue(c, value);
        return std::clamp(value <= 0 ? 1 : value * 2, c.min, c.max);
      }
      if (value <= c.stepSmall) return clampValue(c, value);
      return std::clamp(value / 2, c.min, c.max);
    case Step::Ladder: {
      if (!c.ladder) return value;
      int n = 0;
      while (c.ladder[n]) ++n;
      // Index of the entry the value stands on (after rising to it).
      const int current = clampValue(c, value);
      int i = 0;
      while (i < n - 1 && c.ladder[i] != current) ++i;
      i = std::clamp(i + direction * (ctrl ? 2 : 1), 0, n - 1);
      return c.ladder[i];
    }
  }
  return value;
}

// ---- The dialog ---------------------------------------------------------------------------

TableDialog::TableDialog(int resource, const char* caption, std::vector<Control> table,
                         QWidget* parent)
    : QDialog(parent), resource_(resource), table_(std::move(table)) {
  setWindowTitle(dialogText(caption));
  setObjectName(QStringLiteral("dialog%1").arg(resource));
}

const Control* TableDialog::row(int id) const {
  for (const Control& c : table_)
    if (c.id == id && c.kind != Kind::Caption) return &c;
  return nullptr;
}

QWidget* TableDialog::makeCell(const Control& c) {
  const QString label = dialogText(c.label);
  const QString name = QString::number(c.id);
  switch (c.kind) {
    case Kind::Edit:
    case Kind::Text: {
      auto* cell = new QWidget(this);
      auto* box = new QHBoxLayout(cell);
      box->setContentsMargins(0, 0, 0, 0);
      box->setSpacing(4);
      if (!label.isEmpty()) {
        auto* l = new QLabel(label, cell);
        box->addWidget(l);
        labels_.insert(c.id, l);
      }
      auto* e = new QLineEdit(cell);
      e->setObjectName(name);
      box->addWidget(e, c.kind == Kind::Text ? 1 : 0);
      if (c.kind == Kind::Edit) {
        static const QRegularExpression digits(QStringLiteral("-?[0-9]{0,7}"));
        e->setValidator(new QRegularExpressionValidator(digits, e));
        int chars = c.width;
        if (!chars) chars = std::max<int>(3, int(QString::number(std::max(c.max, -c.min)).size()));
        const QFontMetrics fm(e->font());
        e->setFixedWidth(fm.horizontalAdvance(QLatin1Char('0')) * (chars + 1) + 12);
        e->setAlignment(Qt::AlignRight);
        connect(e, &QLineEdit::editingFinished, this, [this, id = c.id] { finishEdit(id); });
        if (c.step != Step::None) {
          auto* bar = new QScrollBar(Qt::Vertical, cell);
          bar->setObjectName(QString::number(c.id + 100));
          bar->setRange(0, 2);
          bar->setValue(1);
          bar->setPageStep(1);
          bar->setFixedSize(16, e->sizeHint().height());
          // The bar keeps no position: each arrow click steps the edit's value.
          connect(bar, &QScrollBar::actionTriggered, this, [this, bar, id = c.id](int action) {
            int dir = 0;
            if (action == QAbstractSlider::SliderSingleStepSub ||
                action == QAbstractSlider::SliderPageStepSub)
              dir = 1;
            else if (action == QAbstractSlider::SliderSingleStepAdd ||
                     action == QAbstractSlider::SliderPageStepAdd)
              dir = -1;
            bar->setSliderPosition(1);
            if (dir) stepControl(id, dir, QApplication::keyboardModifiers() & Qt::ControlModifier);
          });
          box->addWidget(bar);
          widgets_.insert(c.id + 100, bar);
        }
        box->addStretch(1);
      } else {
        e->setMinimumWidth(QFontMetrics(e->font()).horizontalAdvance(QLatin1Char('0')) * 24);
      }
      widgets_.insert(c.id, e);
      return cell;
    }
    case Kind::Check: {
      auto* b = new QCheckBox(label, this);
      b->setObjectName(name);
      connect(b, &QCheckBox::clicked, this, [this, id = c.id] {
        if (!loading_) command(id);
      });
      widgets_.insert(c.id, b);
      return b;
    }
    case Kind::Radio: {
      auto* b = new QRadioButton(label, this);
      b->setObjectName(name);
      QButtonGroup* g = groups_.value(c.min, nullptr);
      if (!g) {
        g = new QButtonGroup(this);
        groups_.insert(c.min, g);
      }
      g->addButton(b);
      connect(b, &QRadioButton::clicked, this, [this, id = c.id] {
        if (!loading_) command(id);
      });
      widgets_.insert(c.id, b);
      return b;
    }
    case Kind::Combo: {
      auto* cell = new QWidget(this);
      auto* box = new QHBoxLayout(cell);
      box->setContentsMargins(0, 0, 0, 0);
      if (!label.isEmpty()) {
        auto* l = new QLabel(label, cell);
        box->addWidget(l);
        labels_.insert(c.id, l);
      }
      auto* cb = new QComboBox(cell);
      cb->setObjectName(name);
      cb->setEditable(true);
      cb->setMinimumWidth(QFontMetrics(cb->font()).horizontalAdvance(QLatin1Char('0')) * 28);
      box->addWidget(cb, 1);
      widgets_.insert(c.id, cb);
      return cell;
    }
    case Kind::List: {
      auto* l = new QListWidget(this);
      l->setObjectName(name);
      l->setMinimumWidth(QFontMetrics(l->font()).horizontalAdvance(QLatin1Char('0')) * 30);
      widgets_.insert(c.id, l);
      return l;
    }
    case Kind::Static:
    case Kind::Caption: {
      auto* l = new QLabel(label, this);
      if (c.kind == Kind::Static) {
        l->setObjectName(name);
        widgets_.insert(c.id, l);
      }
      return l;
    }
    case Kind::Report: {
      auto* t = new QPlainTextEdit(this);
      t->setObjectName(name);
      t->setReadOnly(true);
      widgets_.insert(c.id, t);
      return t;
    }
    case Kind::Button: {
      auto* b = new QPushButton(label, this);
      b->setObjectName(name);
      b->setAutoDefault(false);
      if (c.span == 1) b->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
      connect(b, &QPushButton::clicked, this, [this, id = c.id] { command(id); });
      widgets_.insert(c.id, b);
      return b;
    }
    case Kind::HBar: {
      auto* cell = new QWidget(this);
      auto* box = new QHBoxLayout(cell);
      box->setContentsMargins(0, 0, 0, 0);
      if (!label.isEmpty()) {
        auto* l = new QLabel(label, cell);
        l->setMinimumWidth(QFontMetrics(l->font()).horizontalAdvance(QStringLiteral("16ch")));
        box->addWidget(l);
        labels_.insert(c.id, l);
      }
      auto* bar = new QScrollBar(Qt::Horizontal, cell);
      bar->setObjectName(name);
      bar->setRange(c.min, c.max);
      bar->setPageStep(1);
      bar->setSingleStep(1);
      bar->setMinimumWidth(120);
      connect(bar, &QScrollBar::valueChanged, this, [this, id = c.id] {
        if (!loading_) valueChanged(id);
      });
      box->addWidget(bar, 1);
      widgets_.insert(c.id, bar);
      return cell;
    }
  }
  return nullptr;
}

void TableDialog::build() {
  if (built_) return;
  built_ = true;
  auto* outer = new QVBoxLayout(this);
  grid_ = new QGridLayout;
  grid_->setHorizontalSpacing(12);
  grid_->setVerticalSpacing(4);
  outer->addLayout(grid_);
  panes_.insert(0, grid_);
  QHBoxLayout* paneRow = nullptr;
  for (const Control& c : table_) {
    QGridLayout* g = panes_.value(c.pane, nullptr);
    if (!g) {
      if (!paneRow) {
        paneRow = new QHBoxLayout;
        paneRow->setSpacing(16);
        outer->addLayout(paneRow);
      }
      auto* column = new QVBoxLayout;
      g = new QGridLayout;
      g->setHorizontalSpacing(12);
      g->setVerticalSpacing(4);
      column->addLayout(g);
      column->addStretch(1);
      paneRow->addLayout(column);
      panes_.insert(c.pane, g);
    }
    QWidget* w = makeCell(c);
    if (!w) continue;
    g->addWidget(w, c.row, c.col, c.rowSpan, c.span);
    if (c.kind == Kind::Text || c.kind == Kind::Combo || c.kind == Kind::Report)
      g->setColumnStretch(c.col, 1);  // text fields take the width, buttons beside them do not
    if ((c.kind == Kind::Edit || c.kind == Kind::HBar || c.kind == Kind::Text) && c.span == 1)
      if (QLabel* l = labels_.value(c.id, nullptr)) cellLabels_.insert(l, c.pane * 100 + c.col);
  }
  // The edits of one column line up: their labels take the width of the widest.
  QHash<int, int> widest;
  for (auto it = cellLabels_.begin(); it != cellLabels_.end(); ++it)
    widest[it.value()] = std::max(widest.value(it.value()), it.key()->sizeHint().width());
  for (auto it = cellLabels_.begin(); it != cellLabels_.end(); ++it)
    it.key()->setMinimumWidth(widest.value(it.value()));
  outer->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(dialogText("キャンセル"), this);
  cancel->setObjectName(QStringLiteral("2"));
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, &TableDialog::acceptWithWrite);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  widgets_.insert(1, ok);
  widgets_.insert(2, cancel);
  outer->addLayout(buttons);
}

void TableDialog::load() {
  build();
  loading_ = true;
  for (const Control& c : table_) {
    switch (c.kind) {
      case Kind::Edit:
        if (c.get) setValue(c.id, c.get());
        break;
      case Kind::Text:
        if (c.getText) setTextOf(c.id, fromSjis(cutSjis(c.getText(), size_t(c.maxBytes))));
        break;
      case Kind::Check:
        if (c.get) setChecked(c.id, c.get() != 0);
        break;
      case Kind::Radio:
        if (c.get) setChecked(c.id, c.get() == c.max);
        break;
      case Kind::HBar:
        if (c.get) setValue(c.id, c.get());
        break;
      default:
        break;
    }
  }
  init();
  loading_ = false;
}

void TableDialog::writeBack() {
  for (const Control& c : table_) {
    switch (c.kind) {
      case Kind::Edit:
        finishEdit(c.id);
        if (c.set) c.set(value(c.id));
        break;
      case Kind::Text:
        if (c.setText) c.setText(toSjis(textOf(c.id), size_t(c.maxBytes)));
        break;
      case Kind::Check:
        if (c.set) c.set(checked(c.id) ? 1 : 0);
        break;
      case Kind::Radio:
        if (c.set && checked(c.id)) c.set(c.max);
        break;
      case Kind::HBar:
        if (c.set) c.set(value(c.id));
        break;
      default:
        break;
    }
  }
  store();
}

int TableDialog::value(int id) const {
  const Control* c = row(id);
  QWidget* w = control(id);
  if (!c || !w) return 0;
  if (auto* bar = qobject_cast<QScrollBar*>(w)) return bar->value();
  auto* e = qobject_cast<QLineEdit*>(w);
  if (!e) return 0;
  const QString t = e->text().trimmed();
  if (t.isEmpty() || t == QLatin1String("-")) return c->emptyNone ? -1 : clampValue(*c, 0);
  bool ok = false;
  const long long v = t.toLongLong(&ok);
  if (!ok) return clampValue(*c, 0);
  return clampValue(*c, int(std::clamp<long long>(v, -100000000, 100000000)));
}

void TableDialog::setValue(int id, int v) {
  const Control* c = row(id);
  QWidget* w = control(id);
  if (!c || !w) return;
  if (auto* bar = qobject_cast<QScrollBar*>(w)) {
    bar->setValue(v);
    return;
  }
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    if (c->emptyNone && v < 0)
      e->clear();
    else
      e->setText(QString::number(clampValue(*c, v)));
  }
}

void TableDialog::finishEdit(int id) {
  const Control* c = row(id);
  auto* e = qobject_cast<QLineEdit*>(control(id));
  if (!c || !e || c->kind != Kind::Edit) return;
  const int v = value(id);
  const QString shown = (c->emptyNone && v < 0) ? QString() : QString::number(v);
  if (e->text() != shown) e->setText(shown);
  if (!loading_) valueChanged(id);
}

void TableDialog::stepControl(int id, int direction, bool ctrl) {
  const Control* c = row(id);
  if (!c || !isEnabledId(id)) return;
  int v = value(id);
  if (v < 0 && c->emptyNone) v = c->min - direction;  // from "none" the first step lands on min
  setValue(id, stepValue(*c, v, direction, ctrl));
  valueChanged(id);
}

bool TableDialog::checked(int id) const {
  if (auto* b = qobject_cast<QAbstractButton*>(control(id))) return b->isChecked();
  return false;
}

void TableDialog::setChecked(int id, bool on) {
  if (auto* b = qobject_cast<QAbstractButton*>(control(id))) {
    if (auto* r = qobject_cast<QRadioButton*>(b); r && !on) {
      // Exclusive groups refuse to uncheck their checked button directly.
      QButtonGroup* g = r->group();
      if (g) g->setExclusive(false);
      r->setChecked(false);
      if (g) g->setExclusive(true);
      return;
    }
    b->setChecked(on);
  }
}

QString TableDialog::textOf(int id) const {
  QWidget* w = control(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* cb = qobject_cast<QComboBox*>(w)) return cb->currentText();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* t = qobject_cast<QPlainTextEdit*>(w)) return t->toPlainText();
  return {};
}

void TableDialog::setTextOf(int id, const QString& t) {
  QWidget* w = control(id);
  // A text longer than its field shows its beginning, not its end.
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(t);
    e->setCursorPosition(0);
  } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
    cb->setEditText(t);
    if (cb->lineEdit()) cb->lineEdit()->setCursorPosition(0);
  } else if (auto* l = qobject_cast<QLabel*>(w))
    l->setText(t);
  else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
    p->setPlainText(t);
}

void TableDialog::setLabel(int id, const QString& japanese) {
  const QString label = dialogText(japanese.toUtf8().constData());
  if (QLabel* l = labels_.value(id, nullptr)) {
    l->setText(label);
  } else if (auto* b = qobject_cast<QAbstractButton*>(control(id))) {
    b->setText(label);
  }
}

void TableDialog::enable(int id, bool on) {
  if (QWidget* w = control(id)) w->setEnabled(on);
  if (QWidget* bar = control(id + 100); bar && row(id) && row(id)->kind == Kind::Edit)
    bar->setEnabled(on);
  if (QLabel* l = labels_.value(id, nullptr)) l->setEnabled(on);
}

bool TableDialog::isEnabledId(int id) const {
  QWidget* w = control(id);
  return w && w->isEnabled();
}

void TableDialog::click(int id) {
  if (auto* b = qobject_cast<QAbstractButton*>(control(id))) b->click();
}

void TableDialog::acceptWithWrite() {
  writeBack();
  accept();
}

void TableDialog::done(int r) {
  QDialog::done(r);
}

void TableDialog::keyPressEvent(QKeyEvent* event) {
  // Return is OK wherever the focus is. An edit has already clamped its value when Return
  // reached it (editingFinished), and OK clamps every value again before writing.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* ok = qobject_cast<QPushButton*>(control(1)); ok && ok->isEnabled()) {
      ok->click();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

}  // namespace vlm::dialogs
