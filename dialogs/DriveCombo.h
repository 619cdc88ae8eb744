#pragma once
// The drive selector: every browsable volume by its root path. Linked to a directory
// list, so that choosing a volume moves the list to that volume's directory; the
// selector in turn follows the list onto whatever volume it enters.
#include <QComboBox>

#include <string>

namespace pellux {

class TDirectoryListBox;

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget *parent = nullptr);

    void SetDirList(TDirectoryListBox *list);

    // The chosen volume's root path.
    const std::string &Drive() const { return drive_; }
    // Chooses the volume and moves the linked list to it. The choice stands even when
    // the list cannot follow (EInOutError is raised then and the list stays).
    void SetDrive(const std::string &Root);

private:
    void ShowDrive(const std::string &Root);
    void FollowList();

    TDirectoryListBox *dirList_ = nullptr;
    std::string drive_;
};

} // namespace pellux
