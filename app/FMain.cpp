#include "app/FMain.h"

#include "app/Glyphs.h"
#include "app/ListingModel.h"
#include "app/MainWindowHost.h"
#include "app/OuterSize.h"
#include "app/commands/Association.h"
#include "dialogs/Connect.h"
#include "dialogs/FPassword.h"
#include "dialogs/FStartup.h"
#include "listing/ListingRows.h"
#include "platform/ErrorReport.h"
#include "platform/LocaleSeparators.h"
#include "platform/ProgramPath.h"
#include "util/KqStringUtil.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace pellux {

TFormMainZip::TFormMainZip(std::vector<std::string> args, QWidget *parent)
    : QMainWindow(parent), args_(std::move(args)), zipEngine_(std::make_unique<TZipEngine>()),
      host_(std::make_unique<MainWindowHost>(*this)), commands_(std::make_unique<ArchiveCommands>(*zipEngine_, *host_))
{
    setObjectName(QStringLiteral("FormMainZip"));
    setWindowTitle(QStringLiteral("Pellux "));
    KeepOuterSizeOnceFramed(this, QSize(544, 375));

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(central);

    BuildToolStrip();
    BuildListView();
    layout->addWidget(Panel1);
    layout->addWidget(ListViewFiles, 1);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setFixedHeight(19);
    StatusBar->setSizeGripEnabled(false);
    statusText_ = new QLabel(StatusBar);
    statusText_->setObjectName(QStringLiteral("StatusBarText"));
    StatusBar->addWidget(statusText_, 1);
    statusEncryption_ = new QLabel(StatusBar);
    statusEncryption_->setObjectName(QStringLiteral("StatusBarEncryption"));
    StatusBar->addPermanentWidget(statusEncryption_);
    statusEncryption_->hide();
    statusNameEncoding_ = new QLabel(StatusBar);
    statusNameEncoding_->setObjectName(QStringLiteral("StatusBarNameEncoding"));
    StatusBar->addPermanentWidget(statusNameEncoding_);
    statusNameEncoding_->hide();
    setStatusBar(StatusBar);

    BuildMenu();

    TimerShowStartupForm = new QTimer(this);
    TimerShowStartupForm->setObjectName(QStringLiteral("TimerShowStartupForm"));
    TimerShowStartupForm->setInterval(100);
    ConnectGuarded(TimerShowStartupForm, &QTimer::timeout, this, &TFormMainZip::TimerShowStartupFormTimer);

    // The list comes first in the tab order, then the tool strip.
    setTabOrder(ListViewFiles, ButtonRemoveFile);
    setTabOrder(ButtonRemoveFile, ButtonAddDirectory);
    setTabOrder(ButtonAddDirectory, ButtonNew);
    setTabOrder(ButtonNew, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, CheckOverwrite);

    zipEngine_->AddCompLevel = 9;
    zipEngine_->OnDirUpdate = [this](TZipEngine &sender) { ZipEngineDirUpdate(sender); };
    // The engine keeps what opened the archive until it is closed; the window keeps nothing.
    zipEngine_->OnPassword = [](TZipEngine &, const std::string &Entry, bool Again, Secret &Password) {
        return ExecutePassword(Entry, Again, Password);
    };

    Guarded([this] { FormCreate(); });
}

TFormMainZip::~TFormMainZip()
{
    zipEngine_->OnDirUpdate = nullptr;
    zipEngine_->OnPassword = nullptr;
}

QToolButton *TFormMainZip::AddToolButton(const char *name, int x, const char *hint, const QIcon &glyph, QSize glyphSize,
                                         void (TFormMainZip::*handler)())
{
    auto *button = new QToolButton(Panel1);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, 8, 30, 25);
    button->setToolTip(QString::fromLatin1(hint));
    button->setIcon(glyph);
    button->setIconSize(glyphSize);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setFocusPolicy(Qt::StrongFocus);
    ConnectGuarded(button, &QToolButton::clicked, this, handler);
    return button;
}

void TFormMainZip::BuildToolStrip()
{
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(34);

    Bevel1 = new QFrame(Panel1);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(0, 0, 4096, 2);

    ButtonNew =
        AddToolButton("ButtonNew", 0, "New archive", toolglyphs::NewArchive(), {14, 14}, &TFormMainZip::ButtonNewClick);
    ButtonOpen = AddToolButton("ButtonOpen", 30, "Open Archive", toolglyphs::OpenArchive(), {14, 14},
                               &TFormMainZip::ButtonOpenClick);
    ButtonAddFile = AddToolButton("ButtonAddFile", 60, "Add file(s) to archive", QIcon(), {22, 14},
                                  &TFormMainZip::ButtonAddFileClick);
    ButtonAddDirectory = AddToolButton("ButtonAddDirectory", 90, "Add directory to archive", QIcon(), {23, 14},
                                       &TFormMainZip::ButtonAddDirectoryClick);
    ButtonRemoveFile = AddToolButton("ButtonRemoveFile", 121, "Delete selected files from archive", QIcon(), {22, 14},
                                     &TFormMainZip::ButtonRemoveFileClick);
    BitBtn1 = AddToolButton("BitBtn1", 151, "Extract selected files", QIcon(), {23, 14}, &TFormMainZip::BitBtn1Click);
    BitBtn2 = AddToolButton("BitBtn2", 180, "Extract all files", QIcon(), {23, 14}, &TFormMainZip::BitBtn2Click);
    InkToolGlyphs();
    ButtonOpen->setFocusPolicy(Qt::NoFocus);
    ButtonAddFile->setFocusPolicy(Qt::NoFocus);

    CheckOverwrite = new QCheckBox(QStringLiteral("Overwrite existing files"), Panel1);
    CheckOverwrite->setObjectName(QStringLiteral("CheckOverwrite"));
    // The desktop font may need more room than the nominal 129 pixels.
    CheckOverwrite->setGeometry(232, 12, std::max(129, CheckOverwrite->sizeHint().width()), 17);
    CheckOverwrite->setChecked(false);
}

void TFormMainZip::BuildListView()
{
    listing_ = new ListingModel(this);
    ListViewFiles = new QTreeView(this);
    ListViewFiles->setObjectName(QStringLiteral("ListViewFiles"));
    ListViewFiles->setModel(listing_);
    ListViewFiles->setRootIsDecorated(false);
    ListViewFiles->setItemsExpandable(false);
    ListViewFiles->setUniformRowHeights(true); // keeps huge archives fast
    ListViewFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListViewFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewFiles->setDragDropMode(QAbstractItemView::NoDragDrop);
    ListViewFiles->setAcceptDrops(false);
    ListViewFiles->setContextMenuPolicy(Qt::NoContextMenu);
    ListViewFiles->setSortingEnabled(false); // rows keep archive order until a header click
    ListViewFiles->setAllColumnsShowFocus(true);

    QHeaderView *header = ListViewFiles->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSectionsMovable(false); // the columns keep their order
    header->setSortIndicatorShown(false);
    // The nominal widths were chosen for a small bitmap font; a larger desktop font
    // still gets a whole date, time and size (sizes up to 12 digits, as the listing
    // writes them: without grouping).
    const QFontMetrics metrics(ListViewFiles->font());
    // The delegate keeps a focus-frame margin plus one pixel on each side of the text.
    const int cellMargins =
        2 * (ListViewFiles->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, ListViewFiles) + 1);
    const auto fitting = [&](const char *widest) {
        return metrics.horizontalAdvance(QString::fromLatin1(widest)) + std::max(14, cellMargins);
    };
    const int dateWidth = fitting("00/00/0000");
    const int timeWidth = fitting("00:00");
    const int sizeWidth = fitting("999999999999");
    for (int column = 0; column < kListColumnCount; ++column) {
        int width = kListColumnWidths[static_cast<std::size_t>(column)];
        if (column == ColDate)
            width = std::max(width, dateWidth);
        if (column == ColTime)
            width = std::max(width, timeWidth);
        if (column == ColSize || column == ColPacked)
            width = std::max(width, sizeWidth);
        header->resizeSection(column, width);
    }
    ConnectGuarded(header, &QHeaderView::sectionClicked, this, &TFormMainZip::ListViewFilesColumnClick);
}

void TFormMainZip::BuildMenu()
{
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(MainMenu1);

    auto addMenu = [](QWidget *parent, const char *name, const char *caption) {
        QMenu *menu = nullptr;
        if (auto *bar = qobject_cast<QMenuBar *>(parent))
            menu = bar->addMenu(QString::fromLatin1(caption));
        else
            menu = static_cast<QMenu *>(parent)->addMenu(QString::fromLatin1(caption));
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    auto addItem = [this](QMenu *menu, const char *name, const char *caption, void (TFormMainZip::*handler)()) {
        QAction *action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        ConnectGuarded(action, &QAction::triggered, this, handler);
    };

    QMenu *file1 = addMenu(MainMenu1, "File1", "&File");
    addItem(file1, "NewArchive1", "&New ZIP archive", &TFormMainZip::NewArchive1Click);
    addItem(file1, "Open1", "&Open ZIP archive", &TFormMainZip::Open1Click);
    addItem(file1, "CloseArchive1", "&Close ZIP archive", &TFormMainZip::CloseArchive1Click);
    addItem(file1, "CreateselfextractingArchive1", "&Make self-extracting archive",
            &TFormMainZip::CreateselfextractingArchive1Click);
    addItem(file1, "Exit1", "E&xit", &TFormMainZip::Exit1Click);

    QMenu *actions1 = addMenu(MainMenu1, "Actions1", "&Actions");
    QMenu *add1 = addMenu(actions1, "Add1", "&Add");
    addItem(add1, "Addfilestoarchive1", "Add &file(s) to ZIP archive", &TFormMainZip::Addfilestoarchive1Click);
    addItem(add1, "Adddirectorytoarchive1", "Add &directory to ZIP archive",
            &TFormMainZip::Adddirectorytoarchive1Click);
    QMenu *delete1 = addMenu(actions1, "Delete1", "&Delete");
    addItem(delete1, "Deletefilesfromarchive1", "&Delete selected files from ZIP archive",
            &TFormMainZip::Deletefilesfromarchive1Click);
    QMenu *extract2 = addMenu(actions1, "Extract2", "&Extract");
    addItem(extract2, "Extractselectedfiles1", "Extract &selected files from ZIP archive",
            &TFormMainZip::Extractselectedfiles1Click);
    addItem(extract2, "Extract1", "Extract &all files from ZIP archive", &TFormMainZip::Extract1Click);

    QMenu *options1 = addMenu(MainMenu1, "Options1", "&Options");
    addItem(options1, "MenuOptions", "&Associate  .zip  files with  Pellux", &TFormMainZip::MenuOptionsClick);
    MenuEncryptAdded = options1->addAction(QString::fromUtf8("&Encrypt added files\u2026"));
    MenuEncryptAdded->setObjectName(QStringLiteral("MenuEncryptAdded"));
    MenuEncryptAdded->setCheckable(true);
    ConnectGuarded(MenuEncryptAdded, &QAction::triggered, this, &TFormMainZip::MenuEncryptAddedClick);
    MenuStoreLinks = options1->addAction(QStringLiteral("Store &links as links"));
    MenuStoreLinks->setObjectName(QStringLiteral("MenuStoreLinks"));
    MenuStoreLinks->setCheckable(true);
    ConnectGuarded(MenuStoreLinks, &QAction::toggled, this,
                   [](TFormMainZip *self, bool on) { self->zipEngine_->StoreLinks = on; });
    BuildNameEncodingMenu(options1);

    QMenu *help1 = addMenu(MainMenu1, "Help1", "&Help");
    addItem(help1, "About1", "&About", &TFormMainZip::About1Click);
}

void TFormMainZip::FormCreate()
{
    const std::string argument = args_.empty() ? std::string() : args_.front();
    sortAscending_ = true;
    const std::string ext = LowerExtension(argument);
    if (ext == ".zip" || ext == ".exe")
        OpenZipFile(argument);
}

// Signs and arrows take the buttons' text colour, drawn again when the theme changes.
void TFormMainZip::InkToolGlyphs()
{
    // The window's own palette: its children learn of a change only after it does.
    const QColor ink = palette().color(QPalette::ButtonText);
    ButtonAddFile->setIcon(toolglyphs::AddFiles(ink));
    ButtonAddDirectory->setIcon(toolglyphs::AddDirectory(ink));
    ButtonRemoveFile->setIcon(toolglyphs::DeleteFiles(ink));
    BitBtn1->setIcon(toolglyphs::ExtractSelected(ink));
    BitBtn2->setIcon(toolglyphs::ExtractAll(ink));
}

void TFormMainZip::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && ButtonAddFile)
        InkToolGlyphs();
}

void TFormMainZip::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Each time the window is shown, not when the desktop merely restores it.
    if (!event->spontaneous())
        Guarded([this] { FormShow(); });
}

// The chooser waits for a timer tick so that it opens after the window is on screen.
void TFormMainZip::FormShow() { TimerShowStartupForm->start(); }

void TFormMainZip::TimerShowStartupFormTimer()
{
    if (!isVisible())
        return;
    // Any argument at all, opened or not, means the user knew what to do.
    if (!args_.empty() && !args_.front().empty())
        return;
    TimerShowStartupForm->stop();
    const auto chooser = std::make_unique<TFormStartup>();
    chooser->move(frameGeometry().topLeft() + QPoint(20, 50));
    chooser->exec();
    if (chooser->ChoseIgnore)
        return;
    if (chooser->ChoseExit)
        Exit1Click();
    else if (chooser->ChoseNew)
        NewArchive1Click();
    else if (chooser->ChoseOpen)
        Open1Click();
}

void TFormMainZip::OpenZipFile(const std::string &FileName) { commands_->OpenZipFile(FileName); }

QString TFormMainZip::StatusText() const { return statusText_->text(); }

void TFormMainZip::SetStatusText(const std::string &Text)
{
    statusText_->setText(QFile::decodeName(QByteArray::fromStdString(Text)));
}

QString TFormMainZip::EncryptionStatusText() const
{
    return statusEncryption_->isHidden() ? QString() : statusEncryption_->text();
}

void TFormMainZip::ZipEngineDirUpdate(TZipEngine &) { FillFileList(); }

// The code pages Windows uses for names in the OEM code page of each language, after
// the automatic choice and UTF-8. Choosing one re-reads the open archive with it.
void TFormMainZip::BuildNameEncodingMenu(QMenu *options)
{
    static const std::pair<const char *, const char *> kEncodings[] = {
        {"", "&Automatic"},
        {"UTF-8", "&UTF-8"},
        {"CP437", "CP437 (English)"},
        {"CP850", "CP850 (Western European)"},
        {"CP737", "CP737 (Greek)"},
        {"CP857", "CP857 (Turkish)"},
        {"CP862", "CP862 (Hebrew)"},
        {"CP866", "CP866 (Cyrillic)"},
        {"CP932", "CP932 (Japanese)"},
        {"CP936", "CP936 (Chinese, simplified)"},
        {"CP949", "CP949 (Korean)"},
        {"CP950", "CP950 (Chinese, traditional)"},
    };
    MenuNameEncoding = options->addMenu(QStringLiteral("&Name encoding"));
    MenuNameEncoding->setObjectName(QStringLiteral("MenuNameEncoding"));
    auto *group = new QActionGroup(MenuNameEncoding);
    for (const auto &[encoding, caption] : kEncodings) {
        QAction *action = MenuNameEncoding->addAction(QString::fromUtf8(caption));
        action->setCheckable(true);
        action->setData(QString::fromLatin1(encoding));
        action->setChecked(zipEngine_->NameEncoding == encoding);
        group->addAction(action);
        const std::string chosen = encoding;
        ConnectGuarded(action, &QAction::triggered, this,
                       [chosen](TFormMainZip *self) { self->zipEngine_->SetNameEncoding(chosen); });
    }
}

void TFormMainZip::MenuEncryptAddedClick()
{
    if (zipEngine_->EncryptsAdded()) {
        zipEngine_->ClearAddPassword();
    } else {
        Secret password;
        if (ExecuteNewPassword(password))
            zipEngine_->SetAddPassword(password);
    }
    ShowEncryptionState();
}

// The check mark and the status bar follow the engine, also when the dialog was cancelled.
void TFormMainZip::ShowEncryptionState()
{
    const bool on = zipEngine_->EncryptsAdded();
    MenuEncryptAdded->setChecked(on);
    statusEncryption_->setText(on ? QStringLiteral("Added files are encrypted (AES-256)") : QString());
    statusEncryption_->setVisible(on);
}

void TFormMainZip::FillFileList()
{
    // The rows come back in archive order: no sort arrow may claim otherwise. The
    // remembered column and direction stay for the next header click.
    ListViewFiles->header()->setSortIndicatorShown(false);
    ListingBuilder builder(DateSeparator(), TimeSeparator());
    builder.PathSeparator = pathSeparator_;
    // The rows are made from the engine's entries as they are shown, not all at once.
    listing_->Show(EntryRows(*zipEngine_, builder));
    // The separator of the last name split, as when every row was made here.
    if (const std::int32_t count = zipEngine_->EntryCount(); count > 0)
        builder.FindLastSeparator(zipEngine_->DirEntries()[static_cast<std::size_t>(count - 1)].Name());
    pathSeparator_ = builder.PathSeparator;
    // Which code page legacy names were read in: said once, beside the archive's name.
    const std::string &used = zipEngine_->UsedNameEncoding();
    const bool legacy = zipEngine_->EntryCount() > 0 && used != "UTF-8";
    statusNameEncoding_->setText(legacy ? QString::fromStdString("Names: " + used) : QString());
    statusNameEncoding_->setVisible(legacy);
}

std::string TFormMainZip::GetColumnText(int row, int column) const
{
    if (row < 0 || row >= listing_->rowCount() || column < 0 || column >= kListColumnCount)
        return {};
    return std::string(listing_->Text(row, column));
}

std::string TFormMainZip::GetEntryName(int row) const
{
    if (row < 0 || row >= listing_->rowCount())
        return {};
    return listing_->Row(row).StoredName;
}

void TFormMainZip::ListViewFilesColumnClick(int column)
{
    if (column == sortColumn_) {
        sortAscending_ = !sortAscending_;
    } else {
        sortColumn_ = column;
        sortAscending_ = true;
    }
    listing_->SortRows(sortColumn_, sortAscending_);
    QHeaderView *header = ListViewFiles->header();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(sortColumn_, sortAscending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TFormMainZip::ListViewFilesCompare(int Item1, int Item2, int /*Data*/, int &Compare) const
{
    const bool lessOrEqual = CompareItems(listing_->Row(Item1), listing_->Row(Item2), sortColumn_);
    Compare = lessOrEqual == sortAscending_ ? -1 : 1;
}

void TFormMainZip::NewArchive1Click() { commands_->NewArchive(); }
void TFormMainZip::Open1Click() { commands_->OpenArchive(); }
void TFormMainZip::CloseArchive1Click() { commands_->CloseArchive(); }
void TFormMainZip::CreateselfextractingArchive1Click() { commands_->MakeSelfExtractingArchive(); }
void TFormMainZip::Exit1Click() { commands_->Exit(); }
void TFormMainZip::Addfilestoarchive1Click() { commands_->AddFiles(); }
void TFormMainZip::Adddirectorytoarchive1Click() { commands_->AddDirectory(); }
void TFormMainZip::Deletefilesfromarchive1Click() { commands_->DeleteSelected(); }
void TFormMainZip::Extractselectedfiles1Click() { commands_->ExtractFiles(false); }
void TFormMainZip::Extract1Click() { commands_->ExtractFiles(true); }
void TFormMainZip::MenuOptionsClick() { AssociateZipFiles(ProgramFilePath()); }
void TFormMainZip::About1Click() { commands_->About(); }

void TFormMainZip::ButtonNewClick() { NewArchive1Click(); }
void TFormMainZip::ButtonOpenClick() { Open1Click(); }
void TFormMainZip::ButtonAddFileClick() { Addfilestoarchive1Click(); }
void TFormMainZip::ButtonAddDirectoryClick() { Adddirectorytoarchive1Click(); }
void TFormMainZip::ButtonRemoveFileClick() { Deletefilesfromarchive1Click(); }
void TFormMainZip::BitBtn1Click() { Extractselectedfiles1Click(); }
void TFormMainZip::BitBtn2Click() { Extract1Click(); }

} // namespace pellux
