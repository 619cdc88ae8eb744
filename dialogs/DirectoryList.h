#pragma once
// The directory list of the chooser: the volume's root, the path down to the current
// directory, and the current directory's subdirectories, indented by level. Entering a
// directory makes it the process's current directory. A single click only highlights;
// double-click or Enter opens the highlighted entry.
#include <QListWidget>

#include <string>

namespace pellux {

class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget *parent = nullptr);

    // The current directory, without a trailing '/' unless it is the root.
    const std::string &Directory() const { return directory_; }
    // Enters Dir (relative to the current directory when not absolute) and rebuilds
    // the list. Nothing happens when Dir is exactly the current directory. Raises
    // EInOutError when the directory cannot be entered; the list stays as it was.
    void SetDirectory(const std::string &Dir);
    // Moves to the directory last entered on the volume with this root, unless the
    // list already shows a directory on that volume.
    void SetDrive(const std::string &Root);
    // The highlighted entry becomes the current directory.
    void OpenCurrent();

    static constexpr int PathRole = Qt::UserRole;
    static constexpr int LevelRole = Qt::UserRole + 1;

Q_SIGNALS:
    void Changed(); // after every change of the current directory
    void Exited();  // the list lost the focus to another control of its window

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void Rebuild();
    std::string directory_;
};

} // namespace pellux
