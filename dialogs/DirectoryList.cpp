#include "dialogs/DirectoryList.h"

#include "dialogs/Glyphs.h"
#include "platform/ErrorReport.h"
#include "platform/Volumes.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QStyledItemDelegate>

#include <algorithm>
#include <filesystem>

namespace pellux {

namespace fs = std::filesystem;

namespace {
constexpr int kIndent = 10;

class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem shifted(option);
        shifted.rect.adjust(index.data(TDirectoryListBox::LevelRole).toInt() * kIndent, 0, 0, 0);
        QStyledItemDelegate::paint(painter, shifted, index);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += index.data(TDirectoryListBox::LevelRole).toInt() * kIndent;
        return size;
    }
};

// An absolute, lexically clean path without trailing '/', except the root itself.
std::string Normalised(const std::string &dir)
{
    fs::path path(dir);
    if (path.is_relative())
        path = fs::path(CurrentDirectory()) / path;
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool StartsWithDirectory(const std::string &path, const std::string &root)
{
    if (root == "/")
        return !path.empty() && path.front() == '/';
    return path == root
        || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
}

std::vector<std::string> Subdirectories(const std::string &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (!name.empty() && name.front() != '.' && it->is_directory(typeError))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        const int order = QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}
} // namespace

TDirectoryListBox::TDirectoryListBox(QWidget *parent) : QListWidget(parent)
{
    setItemDelegate(new IndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setIconSize(QSize(16, 16));
    // Like the process, the list starts in the current directory.
    directory_ = CurrentDirectory();
    if (!directory_.empty())
        Rebuild();
}

void TDirectoryListBox::SetDirectory(const std::string &Dir)
{
    if (Dir == directory_)
        return;
    const std::string target = Normalised(Dir);
    EnterDirectory(target);
    directory_ = target;
    Rebuild();
    Q_EMIT Changed();
}

void TDirectoryListBox::SetDrive(const std::string &Root)
{
    if (!directory_.empty() && VolumeRootOf(directory_) == Root)
        return;
    CheckVolumeReady(Root);
    // A remembered directory that has gone since gives way to the volume's root.
    std::string target = VolumeCurrentDirectory(Root);
    std::error_code ec;
    if (!fs::is_directory(target, ec))
        target = Root;
    SetDirectory(target);
}

void TDirectoryListBox::OpenCurrent()
{
    const QListWidgetItem *item = currentItem();
    if (item)
        SetDirectory(item->data(PathRole).toByteArray().toStdString());
}

void TDirectoryListBox::Rebuild()
{
    clear();
    std::string root = VolumeRootOf(directory_);
    if (!StartsWithDirectory(directory_, root))
        root = "/";

    auto add = [this](const std::string &path, const std::string &text, int level, const QIcon &icon) {
        auto *item = new QListWidgetItem(icon, QString::fromStdString(text), this);
        item->setData(PathRole, QByteArray::fromStdString(path));
        item->setData(LevelRole, level);
        return item;
    };

    const QIcon open = glyphs::FolderOpen();
    QListWidgetItem *current = add(root, root, 0, open);
    int level = 0;
    std::string path = root;
    const std::string rest = directory_.size() > root.size() ? directory_.substr(root.size()) : std::string();
    for (const auto &part : fs::path(rest)) {
        const std::string name = part.string();
        if (name.empty() || name == "/")
            continue;
        path = path == "/" ? "/" + name : path + "/" + name;
        current = add(path, name, ++level, open);
    }
    const QIcon closed = glyphs::FolderClosed();
    for (const auto &name : Subdirectories(directory_))
        add(directory_ == "/" ? "/" + name : directory_ + "/" + name, name, level + 1, closed);
    setCurrentItem(current);
    scrollToItem(current);
}

void TDirectoryListBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Guarded([this] { OpenCurrent(); });
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListWidget::mouseDoubleClickEvent(event);
    Guarded([this] { OpenCurrent(); });
}

void TDirectoryListBox::focusOutEvent(QFocusEvent *event)
{
    QListWidget::focusOutEvent(event);
    // Only a move to another control of the window counts, not the window losing
    // activation to a message box or a popup.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        Q_EMIT Exited();
}

} // namespace pellux
