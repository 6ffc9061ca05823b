// The playlist panel: a list of the entries' file names (the full path as tooltip), the current
// entry selected and kept in view. Double-click or Enter asks the window to open an entry;
// files dropped here are appended by the window rather than replacing the list.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/panels/panel_util.h"
#include "app/panels/panels.h"

namespace vlm {

PlaylistPanel::PlaylistPanel(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  list_ = new QListWidget(this);
  list_->setUniformItemSizes(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setDragDropMode(QAbstractItemView::NoDragDrop);
  list_->setAcceptDrops(false);  // drops reach the panel
  list_->viewport()->setAcceptDrops(false);
  list_->setTextElideMode(Qt::ElideMiddle);
  list_->installEventFilter(this);
  layout->addWidget(list_);
  setAcceptDrops(true);
  connect(list_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { emit entryActivated(list_->row(item)); });
}

void PlaylistPanel::setEntries(const QStringList& paths, int current) {
  if (paths != paths_) {
    paths_ = paths;
    list_->setUpdatesEnabled(false);
    list_->clear();
    for (const QString& path : paths) {
      auto* item = new QListWidgetItem(QFileInfo(path).fileName());
      if (item->text().isEmpty()) item->setText(path);
      item->setToolTip(path);
      list_->addItem(item);
    }
    list_->setUpdatesEnabled(true);
  }
  setCurrent(current);
}

void PlaylistPanel::setCurrent(int current) {
  if (current < 0 || current >= list_->count()) {
    list_->setCurrentRow(-1);
    list_->clearSelection();
    return;
  }
  list_->setCurrentRow(current);
  list_->scrollToItem(list_->item(current), QAbstractItemView::EnsureVisible);
}

int PlaylistPanel::currentRow() const {
  return list_->currentRow();
}

QListWidget* PlaylistPanel::list() const {
  return list_;
}

bool PlaylistPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && list_->currentRow() >= 0) {
      emit entryActivated(list_->currentRow());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void PlaylistPanel::dragEnterEvent(QDragEnterEvent* event) {
  if (!localPathsOf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void PlaylistPanel::dragMoveEvent(QDragMoveEvent* event) {
  if (!localPathsOf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void PlaylistPanel::dropEvent(QDropEvent* event) {
  const QStringList paths = localPathsOf(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  emit filesDropped(paths);
}

}  // namespace vlm
