#pragma once
// TFormMainZip: the main window. It owns the archive component for the whole run,
// shows the open archive's entries and carries the menu and tool buttons. Every
// handler runs under the general error report.
#include "app/commands/ArchiveCommands.h"
#include "listing/ListingText.h"
#include "zip/ZipEngine.h"

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QTimer;
class QToolButton;
class QTreeView;
class QWidget;

namespace pellux {

class ListingModel;
class MainWindowHost;

class TFormMainZip : public QMainWindow {
    Q_OBJECT
public:
    // args are the command-line arguments after the program name, as raw bytes.
    explicit TFormMainZip(std::vector<std::string> args, QWidget *parent = nullptr);
    ~TFormMainZip() override;

    void OpenZipFile(const std::string &FileName);
    void FillFileList();
    std::string GetColumnText(int row, int column) const;
    // The row's entry's exact stored name.
    std::string GetEntryName(int row) const;
    void ListViewFilesColumnClick(int column);
    // Orders two rows for the sort: Compare gets -1 when Item1 goes first.
    void ListViewFilesCompare(int Item1, int Item2, int Data, int &Compare) const;

    TZipEngine &ZipEngine() { return *zipEngine_; }
    ListingModel &Listing() { return *listing_; }
    ArchiveCommands &Commands() { return *commands_; }
    QString StatusText() const;
    void SetStatusText(const std::string &Text);
    // What the status bar says beside the archive's name while added files are
    // encrypted; empty otherwise.
    QString EncryptionStatusText() const;
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortAscending_; }
    char PathSeparator() const { return pathSeparator_; }

    // Controls, named as the objects they hold.
    QWidget *Panel1 = nullptr;
    QFrame *Bevel1 = nullptr;
    QToolButton *ButtonNew = nullptr;
    QToolButton *ButtonOpen = nullptr;
    QToolButton *ButtonAddFile = nullptr;
    QToolButton *ButtonAddDirectory = nullptr;
    QToolButton *ButtonRemoveFile = nullptr;
    QToolButton *BitBtn1 = nullptr;
    QToolButton *BitBtn2 = nullptr;
    QCheckBox *CheckOverwrite = nullptr;
    QTreeView *ListViewFiles = nullptr;
    QStatusBar *StatusBar = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QTimer *TimerShowStartupForm = nullptr;
    QAction *MenuEncryptAdded = nullptr;
    QMenu *MenuNameEncoding = nullptr;
    QAction *MenuStoreLinks = nullptr; // off: links are followed, as they always were

    // Menu handlers: each runs its command of ArchiveCommands.
    void NewArchive1Click();
    void Open1Click();
    void CloseArchive1Click();
    void CreateselfextractingArchive1Click();
    void Exit1Click();
    void Addfilestoarchive1Click();
    void Adddirectorytoarchive1Click();
    void Deletefilesfromarchive1Click();
    void Extractselectedfiles1Click();
    void Extract1Click();
    void MenuOptionsClick();
    // Off: asks for a password twice and encrypts what is added from now on. On: stops.
    void MenuEncryptAddedClick();
    void About1Click();

    // Tool-button handlers: each only calls its menu item's handler.
    void ButtonNewClick();
    void ButtonOpenClick();
    void ButtonAddFileClick();
    void ButtonAddDirectoryClick();
    void ButtonRemoveFileClick();
    void BitBtn1Click();
    void BitBtn2Click();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void InkToolGlyphs();
    void FormCreate();
    void FormShow();
    void TimerShowStartupFormTimer();
    void ZipEngineDirUpdate(TZipEngine &Sender);
    void ShowEncryptionState();
    void BuildNameEncodingMenu(QMenu *options);
    void BuildToolStrip();
    void BuildListView();
    void BuildMenu();
    QToolButton *AddToolButton(const char *name, int x, const char *hint, const QIcon &glyph, QSize glyphSize,
                               void (TFormMainZip::*handler)());

    std::vector<std::string> args_;
    std::unique_ptr<TZipEngine> zipEngine_;
    std::unique_ptr<MainWindowHost> host_;
    std::unique_ptr<ArchiveCommands> commands_;
    ListingModel *listing_ = nullptr;
    QLabel *statusText_ = nullptr;
    QLabel *statusEncryption_ = nullptr;
    QLabel *statusNameEncoding_ = nullptr;
    char pathSeparator_ = '/';
    int sortColumn_ = -1; // none until a header is clicked
    bool sortAscending_ = false;
};

} // namespace pellux
