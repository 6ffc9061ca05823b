#include "setup/setup_dialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/language.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "util/files.h"

namespace vlm {

QTranslator* installSetupTranslations(const std::string& language) {
  if (!wantsEnglishTexts(language)) return nullptr;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral(":/i18n/setting_en.qm"))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

namespace {

QString firstDroppedFile(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}

void setId(QWidget* w, int id) {
  w->setObjectName(QString::number(id));
}

QString pathForEdit(const std::string& bytes) {
  return QFile::decodeName(bytes.c_str());
}
std::string pathFromEdit(const QString& text) {
  return cutUtf8(QFile::encodeName(text).toStdString(), APP_PATH_BYTES);
}
QString nameForEdit(const std::string& sjis) {
  return QString::fromStdString(sjisToUtf8(sjis));
}
std::string nameFromEdit(const QString& text) {
  return cutSjis(utf8ToSjis(text.toStdString()), APP_NAME_BYTES);
}

}  // namespace

void PathEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (!firstDroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    QLineEdit::dragEnterEvent(event);
}

void PathEdit::dragMoveEvent(QDragMoveEvent* event) {
  if (!firstDroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    QLineEdit::dragMoveEvent(event);
}

void PathEdit::dropEvent(QDropEvent* event) {
  const QString path = firstDroppedFile(event->mimeData());
  if (path.isEmpty()) {
    QLineEdit::dropEvent(event);
    return;
  }
  event->acceptProposedAction();
  emit fileDropped(path);
}

SetupDialog::SetupDialog(const QString& programDir, ProgramRunner runner, QWidget* parent)
    : QDialog(parent), programDir_(programDir), runner_(std::move(runner)) {
  setWindowTitle(QStringLiteral("VlmPlayer SETUP"));
  settings_ = loadSetupSettings();
  playerFound_ = QFileInfo(QDir(programDir_).absoluteFilePath(PLAYER_PROGRAM_NAME)).isFile();

  auto* top = new QVBoxLayout(this);

  auto* assocBox = new QGroupBox(tr("関連付け再設定"), this);
  auto* assocGrid = new QGridLayout(assocBox);
  const AssociationSet registered = registeredAssociations();
  const std::vector<AssociationRow>& rows = associationRows();
  for (size_t i = 0; i < rows.size() && i < associations_.size(); ++i) {
    const AssociationRow& row = rows[i];
    auto* box = new QCheckBox(tr(row.label), assocBox);
    setId(box, row.id);
    box->setChecked(registered[i]);
    box->setEnabled(playerFound_);
    assocGrid->addWidget(box, int(i / 3), int(i % 3));
    associations_[i] = box;
  }
  top->addWidget(assocBox);

  auto* filesRow = new QHBoxLayout;
  filesRow->addWidget(new QLabel(tr("同時に開けるﾌｧｲﾙ数"), this));
  files_ = new QLineEdit(QString::number(settings_.files), this);
  setId(files_, ID_FILES);
  files_->setMaximumWidth(80);
  filesRow->addWidget(files_);
  filesRow->addWidget(new QLabel(tr("(要再起動)"), this));
  filesRow->addStretch();
  top->addLayout(filesRow);

  filebutton_ = new QCheckBox(tr("CGボタンのカスタマイズ有効"), this);
  setId(filebutton_, ID_FILEBUTTON);
  filebutton_->setChecked(settings_.filebutton);
  top->addWidget(filebutton_);

  auto* appsBox = new QGroupBox(tr("外部ｿﾌﾄ名"), this);
  auto* appsGrid = new QGridLayout(appsBox);
  for (int i = 0; i < VISIBLE_APP_ROWS; ++i) {
    fileLabels_[size_t(i)] = new QLabel(appsBox);
    setId(fileLabels_[size_t(i)], ID_FIRST_FILE_LABEL + 2 * i);
    nameLabels_[size_t(i)] = new QLabel(appsBox);
    setId(nameLabels_[size_t(i)], ID_FIRST_FILE_LABEL + 1 + 2 * i);
    paths_[size_t(i)] = new PathEdit(appsBox);
    setId(paths_[size_t(i)], ID_FIRST_PATH + 2 * i);
    paths_[size_t(i)]->setMinimumWidth(260);
    names_[size_t(i)] = new QLineEdit(appsBox);
    setId(names_[size_t(i)], ID_FIRST_PATH + 1 + 2 * i);
    names_[size_t(i)]->setMinimumWidth(120);
    appsGrid->addWidget(fileLabels_[size_t(i)], i, 0);
    appsGrid->addWidget(paths_[size_t(i)], i, 1);
    appsGrid->addWidget(nameLabels_[size_t(i)], i, 2);
    appsGrid->addWidget(names_[size_t(i)], i, 3);
    connect(paths_[size_t(i)], &PathEdit::fileDropped, this,
            [this, i](const QString& path) { dropFile(i, path); });
  }
  appsGrid->setColumnStretch(1, 3);
  appsGrid->setColumnStretch(3, 1);
  scroll_ = new QScrollBar(Qt::Vertical, appsBox);
  setId(scroll_, ID_SCROLL);
  scroll_->setRange(0, MAX_APP_OFFSET);
  scroll_->setSingleStep(1);
  scroll_->setPageStep(VISIBLE_APP_ROWS);
  appsGrid->addWidget(scroll_, 0, 4, VISIBLE_APP_ROWS, 1);
  appsGrid->addWidget(new QLabel(tr("(今再生中のﾌｧｲﾙを他ｿﾌﾄで開けます。)"), appsBox),
                      VISIBLE_APP_ROWS, 0, 1, 5);
  connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) { scrollTo(value); });
  top->addWidget(appsBox);

  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  setId(ok, ID_OK);
  ok->setDefault(true);
  auto* cancel = new QPushButton(tr("ｷｬﾝｾﾙ"), this);
  setId(cancel, ID_CANCEL);
  auto* apply = new QPushButton(tr("適用"), this);
  setId(apply, ID_APPLY);
  auto* editIni = new QPushButton(tr("INIﾌｧｲﾙ編集"), this);
  setId(editIni, ID_EDIT_INI);
  buttons->addWidget(editIni);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(apply);
  top->addLayout(buttons);

  status_ = new QLabel(this);
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  if (!playerFound_)
    status_->setText(tr("%1 が見つからないため関連付けは変更できません")
                         .arg(QDir(programDir_).absoluteFilePath(PLAYER_PROGRAM_NAME)));
  top->addWidget(status_);

  connect(ok, &QPushButton::clicked, this, [this] {
    if (applyChanges()) accept();  // with a problem the dialog stays open to show it
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(apply, &QPushButton::clicked, this, [this] { applyChanges(); });
  connect(editIni, &QPushButton::clicked, this, [this] { editSettingsFile(); });

  showRows();
}

QWidget* SetupDialog::control(int id) const {
  return findChild<QWidget*>(QString::number(id));
}

QString SetupDialog::statusText() const {
  return status_->text();
}

void SetupDialog::setStatus(const QString& text) {
  status_->setText(text);
}

void SetupDialog::storeVisibleRows() {
  for (int i = 0; i < VISIBLE_APP_ROWS; ++i) {
    AppSlot& slot = settings_.apps[size_t(offset_ + i)];
    slot.file = pathFromEdit(paths_[size_t(i)]->text());
    slot.name = nameFromEdit(names_[size_t(i)]->text());
  }
}

void SetupDialog::showRows() {
  for (int i = 0; i < VISIBLE_APP_ROWS; ++i) {
    const AppSlot& slot = settings_.apps[size_t(offset_ + i)];
    paths_[size_t(i)]->setText(pathForEdit(slot.file));
    names_[size_t(i)]->setText(nameForEdit(slot.name));
    fileLabels_[size_t(i)]->setText(tr("ﾌｧｲﾙ名%1").arg(offset_ + i + 1));
    nameLabels_[size_t(i)]->setText(tr("表示名%1").arg(offset_ + i + 1));
  }
}

void SetupDialog::scrollTo(int offset) {
  storeVisibleRows();
  offset_ = std::clamp(offset, 0, MAX_APP_OFFSET);
  if (scroll_->value() != offset_) scroll_->setValue(offset_);
  showRows();
}

void SetupDialog::dropFile(int row, const QString& path) {
  if (row < 0 || row >= VISIBLE_APP_ROWS) return;
  settings_.apps[size_t(offset_ + row)].file = pathFromEdit(path);
  paths_[size_t(row)]->setText(pathForEdit(settings_.apps[size_t(offset_ + row)].file));
}

bool SetupDialog::applyChanges() {
  QStringList problems;
  settings_.files = filesCorrected(parseTypedNumber(files_->text().toStdString()));
  files_->setText(QString::number(settings_.files));
  settings_.filebutton = filebutton_->isChecked();
  storeVisibleRows();
  if (!saveSetupSettings(settings_))
    problems.append(
        tr("%1 を書き込めません").arg(QFile::decodeName(profilePath(SETTINGS_FILE).c_str())));

  if (playerFound_) {
    AssociationSet rows{};
    for (size_t i = 0; i < rows.size(); ++i)
      rows[i] = associations_[i] && associations_[i]->isChecked();
    problems += applyAssociations(rows, programDir_, runner_);
  }

  const int reached = reloadRunningPlayers();
  QString text = problems.isEmpty() ? tr("設定を保存しました") : problems.join('\n');
  if (reached > 0) text += tr("\n起動中のVlmPlayer %1 個に再読込を通知しました").arg(reached);
  setStatus(text);
  return problems.isEmpty();
}

void SetupDialog::editSettingsFile() {
  const std::string path = profilePath(SETTINGS_FILE);
  const QString qpath = QFile::decodeName(path.c_str());
  if (!QFileInfo::exists(qpath)) {
    QDir().mkpath(QFileInfo(qpath).absolutePath());
    if (!saveFile(path.c_str(), "", 0)) {
      setStatus(tr("%1 を作成できません").arg(qpath));
      return;
    }
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(qpath)))
    setStatus(tr("%1 を開くエディタが見つかりません").arg(qpath));
}

}  // namespace vlm
