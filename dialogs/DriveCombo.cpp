#include "dialogs/DriveCombo.h"

#include "dialogs/DirectoryList.h"
#include "platform/ErrorReport.h"
#include "platform/Volumes.h"

#include <QSignalBlocker>

namespace pellux {

TDriveComboBox::TDriveComboBox(QWidget *parent) : QComboBox(parent)
{
    for (const VolumeInfo &volume : BrowsableVolumes()) {
        QString text = QString::fromStdString(volume.Root);
        if (!volume.Label.empty())
            text += QStringLiteral("  [%1]").arg(QString::fromStdString(volume.Label));
        addItem(text, QByteArray::fromStdString(volume.Root));
    }
    connect(this, &QComboBox::activated, this,
            [this](int index) { Guarded([&] { SetDrive(itemData(index).toByteArray().toStdString()); }); });
}

void TDriveComboBox::SetDirList(TDirectoryListBox *list)
{
    dirList_ = list;
    connect(list, &TDirectoryListBox::Changed, this, &TDriveComboBox::FollowList);
    FollowList();
}

void TDriveComboBox::ShowDrive(const std::string &Root)
{
    drive_ = Root;
    const QSignalBlocker quiet(this);
    int index = findData(QByteArray::fromStdString(Root));
    if (index < 0) {
        addItem(QString::fromStdString(Root), QByteArray::fromStdString(Root));
        index = count() - 1;
    }
    setCurrentIndex(index);
}

void TDriveComboBox::SetDrive(const std::string &Root)
{
    ShowDrive(Root);
    if (dirList_)
        dirList_->SetDrive(Root);
}

void TDriveComboBox::FollowList()
{
    if (dirList_ && !dirList_->Directory().empty())
        ShowDrive(VolumeRootOf(dirList_->Directory()));
}

} // namespace pellux
