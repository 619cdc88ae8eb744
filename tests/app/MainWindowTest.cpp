// The main window offscreen: its controls, the command-line open and read errors.
#include "tests/app/WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <cctype>
#include <map>

using namespace pellux;
using namespace pellux::test;

namespace {

// What the user reads: access-key marks left out, "&&" shown as one '&'.
QString Visible(const QString &text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && ++i == text.size())
            break;
        shown += text[i];
    }
    return shown;
}

QString ActionText(QWidget &w, const char *name)
{
    auto *action = w.findChild<QAction *>(QString::fromLatin1(name));
    return action ? Visible(action->text()) : QStringLiteral("<missing>");
}

// Fails for every two items of one menu (or of the bar) that share an access key,
// and, where `everyItem`, for an item that has none; goes down into submenus.
void ExpectDistinctAccessKeys(const QString &where, const QList<QAction *> &items, bool everyItem)
{
    std::map<int, QString> taken;
    for (QAction *action : items) {
        if (action->isSeparator())
            continue;
        const QString text = action->menu() ? action->menu()->title() : action->text();
        const QKeySequence key = QKeySequence::mnemonic(text);
        if (key.isEmpty()) {
            EXPECT_FALSE(everyItem) << where.toStdString() << ": no access key in " << text.toStdString();
        } else {
            const auto [at, fresh] = taken.emplace(key[0].toCombined(), text);
            EXPECT_TRUE(fresh) << where.toStdString() << ": " << text.toStdString() << " and "
                               << at->second.toStdString() << " share a key";
        }
        if (QMenu *menu = action->menu())
            ExpectDistinctAccessKeys(Visible(menu->title()), menu->actions(),
                                     everyItem || menu->objectName() == QStringLiteral("Actions1"));
    }
}

} // namespace

TEST_F(WindowTest, ToolStripButtonsHaveTheirPlacesAndTooltips)
{
    auto w = Start();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Pellux "));
    EXPECT_EQ(w->size(), QSize(544, 375));
    const std::pair<const char *, std::pair<int, const char *>> buttons[] = {
        {"ButtonNew", {0, "New archive"}},
        {"ButtonOpen", {30, "Open Archive"}},
        {"ButtonAddFile", {60, "Add file(s) to archive"}},
        {"ButtonAddDirectory", {90, "Add directory to archive"}},
        {"ButtonRemoveFile", {121, "Delete selected files from archive"}},
        {"BitBtn1", {151, "Extract selected files"}},
        {"BitBtn2", {180, "Extract all files"}},
    };
    for (const auto &[name, expected] : buttons) {
        auto *button = w->findChild<QToolButton *>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->geometry(), QRect(expected.first, 8, 30, 25)) << name;
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(expected.second)) << name;
        EXPECT_TRUE(button->text().isEmpty() || button->toolButtonStyle() == Qt::ToolButtonIconOnly) << name;
        EXPECT_FALSE(button->icon().isNull()) << name;
    }
    EXPECT_EQ(w->ButtonOpen->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(w->ButtonAddFile->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(w->CheckOverwrite->text(), QStringLiteral("Overwrite existing files"));
    EXPECT_FALSE(w->CheckOverwrite->isChecked());
    EXPECT_EQ(w->CheckOverwrite->pos(), QPoint(232, 12));
    EXPECT_EQ(w->Panel1->height(), 34);
}

TEST_F(WindowTest, ToolGlyphStrokesFollowTheThemesTextColour)
{
    auto w = Start();
    // The bar of the minus sign, in device pixels of the 2x glyph.
    const auto stroke = [&w] {
        return w->ButtonRemoveFile->icon().pixmap(QSize(22, 14), 2.0).toImage().pixelColor(2, 15);
    };
    EXPECT_EQ(stroke(), w->ButtonRemoveFile->palette().color(QPalette::ButtonText));
    QPalette dark = w->palette();
    dark.setColor(QPalette::Button, QColor(40, 40, 40));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    w->setPalette(dark);
    EXPECT_EQ(stroke(), QColor(230, 230, 230));
}

TEST_F(WindowTest, TabOrderRunsFromTheListThroughTheToolStrip)
{
    auto w = Start();
    const std::vector<QWidget *> expected = {w->ListViewFiles, w->ButtonRemoveFile, w->ButtonAddDirectory, w->ButtonNew,
                                             w->BitBtn1,       w->BitBtn2,          w->CheckOverwrite};
    QWidget *current = w->ListViewFiles;
    for (std::size_t i = 1; i < expected.size(); ++i) {
        current = current->nextInFocusChain();
        while (current->focusPolicy() == Qt::NoFocus || !(current->focusPolicy() & Qt::TabFocus))
            current = current->nextInFocusChain();
        EXPECT_EQ(current, expected[i]) << "tab stop " << i;
    }
}

TEST_F(WindowTest, MenuCaptions)
{
    auto w = Start();
    const std::pair<const char *, const char *> items[] = {
        {"NewArchive1", "&New ZIP archive"},
        {"Open1", "&Open ZIP archive"},
        {"CloseArchive1", "&Close ZIP archive"},
        {"CreateselfextractingArchive1", "&Make self-extracting archive"},
        {"Exit1", "E&xit"},
        {"Addfilestoarchive1", "Add &file(s) to ZIP archive"},
        {"Adddirectorytoarchive1", "Add &directory to ZIP archive"},
        {"Deletefilesfromarchive1", "&Delete selected files from ZIP archive"},
        {"Extractselectedfiles1", "Extract &selected files from ZIP archive"},
        {"Extract1", "Extract &all files from ZIP archive"},
        {"MenuOptions", "&Associate  .zip  files with  Pellux"},
        {"About1", "&About"},
    };
    for (const auto &[name, caption] : items)
        EXPECT_EQ(ActionText(*w, name), Visible(QString::fromLatin1(caption))) << name;
    const std::pair<const char *, const char *> menus[] = {
        {"File1", "&File"},       {"Actions1", "&Actions"}, {"Add1", "&Add"},   {"Delete1", "&Delete"},
        {"Extract2", "&Extract"}, {"Options1", "&Options"}, {"Help1", "&Help"},
    };
    for (const auto &[name, caption] : menus) {
        auto *menu = w->findChild<QMenu *>(QString::fromLatin1(name));
        ASSERT_NE(menu, nullptr) << name;
        EXPECT_EQ(Visible(menu->title()), Visible(QString::fromLatin1(caption))) << name;
    }
    EXPECT_EQ(w->findChild<QMenu *>(QStringLiteral("Add1"))->parent(),
              w->findChild<QMenu *>(QStringLiteral("Actions1")));
}

// Every command of Actions is a few keys away: Alt+A, then a letter per level.
TEST_F(WindowTest, MenusHaveDistinctAccessKeys)
{
    auto w = Start();
    ExpectDistinctAccessKeys(QStringLiteral("menu bar"), w->MainMenu1->actions(), false);
    EXPECT_EQ(QKeySequence::mnemonic(w->findChild<QMenu *>(QStringLiteral("Actions1"))->title()),
              QKeySequence(Qt::ALT | Qt::Key_A));
}

TEST_F(WindowTest, ListHasSevenColumnsInFileOrderAndIsReadOnly)
{
    auto w = Start();
    const char *captions[] = {"Filename", "date", "Time", "Size", "Ratio", "Packed", "Path"};
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(w->Listing().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                  QString::fromLatin1(captions[c]));
    EXPECT_EQ(w->ListViewFiles->header()->sectionSize(0), 145);
    EXPECT_EQ(w->ListViewFiles->header()->sectionSize(6), 300);
    EXPECT_EQ(w->ListViewFiles->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(w->ListViewFiles->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(w->Listing().rowCount(), 0);
}

// Files of 10 MB and more must not be cut to "123456…", whatever the font.
TEST_F(WindowTest, SizeColumnsShowTwelveDigitsWholeAndKeepTheirNominalWidth)
{
    const QFont saved = QApplication::font();
    for (int pixels : {6, 0, 24}) {
        QFont font = saved;
        if (pixels > 0)
            font.setPixelSize(pixels);
        QApplication::setFont(font);
        auto w = Start();
        w->Listing().Rebuild([](const std::function<void(ListRow &&)> &sink) {
            ListRow row;
            row.StoredName = row.Text[ColFilename] = "big.iso";
            row.Text[ColSize] = SizeText(999'999'999'999);
            row.Text[ColPacked] = SizeText(888'888'888'888);
            sink(std::move(row));
        });
        const QFontMetrics metrics(w->ListViewFiles->font());
        const int margins =
            2 * (w->ListViewFiles->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w->ListViewFiles) + 1);
        for (int column : {ColSize, ColPacked}) {
            const int width = w->ListViewFiles->header()->sectionSize(column);
            const QString text = QString::fromStdString(w->GetColumnText(0, column));
            EXPECT_EQ(text.size(), 12) << column;
            EXPECT_LE(metrics.horizontalAdvance(text) + margins, width) << pixels << "px, column " << column;
            EXPECT_GE(width, kListColumnWidths[static_cast<std::size_t>(column)]) << column;
        }
        if (pixels == 6) { // a font small enough for the nominal widths keeps them
            EXPECT_EQ(w->ListViewFiles->header()->sectionSize(ColSize), kListColumnWidths[ColSize]);
        }
    }
    QApplication::setFont(saved);
}

TEST_F(WindowTest, DecodedAndEscapedNamesShowAsTheyAreAndSortWithTheirRows)
{
    // Texts that are not simply pieces of the stored name are kept beside it.
    ZipBytes z;
    z.LocalHeader("d\x81r/x.txt", "x").LocalHeader("a\tb.txt", "bb").LocalHeader("Sub/C.txt", "ccc").EndRecord();
    auto w = Start({dir.Write("names.zip", z.Str())});
    ASSERT_EQ(w->Listing().rowCount(), 3);
    auto row = [&](int r) {
        std::vector<std::string> texts{w->GetEntryName(r)};
        for (int column : {ColFilename, ColSize, ColPath})
            texts.push_back(w->GetColumnText(r, column));
        return texts;
    };
    const std::vector<std::string> first{"d\x81r/x.txt", "x.txt", "1", "d\xC3\xBCr"};
    const std::vector<std::string> second{"a\tb.txt", "a\\x09b.txt", "2", ""};
    const std::vector<std::string> third{"Sub/C.txt", "C.txt", "3", "Sub"};
    EXPECT_EQ(row(0), first);
    EXPECT_EQ(row(1), second);
    EXPECT_EQ(row(2), third);
    w->ListViewFilesColumnClick(ColFilename);
    EXPECT_EQ(row(0), second);
    EXPECT_EQ(row(1), third);
    EXPECT_EQ(row(2), first);
    w->ListViewFilesColumnClick(ColPath);
    EXPECT_EQ(row(0), second);
    EXPECT_EQ(row(1), first);
    EXPECT_EQ(row(2), third);
}

TEST_F(WindowTest, SortsMatchAStableSortOfTheLoweredTextsBothWays)
{
    // Names that agree on their first sixteen bytes, that are heads of others, differ
    // only in case, or repeat: the sort must still order them by the whole text, and
    // keep equal ones in the order they had. Enough rows that the sort runs in halves.
    std::vector<std::string> names{"x/abcdefghijklmnopB.txt",
                                   "abcdefghijklmnop",
                                   "y/ABCDEFGHIJKLMNOPa.txt",
                                   "abcdefghijklmnopq",
                                   "z/abcdefghijklmnop",
                                   "abcdefghijklmno",
                                   "x/same.txt",
                                   "y/same.txt",
                                   "z/SAME.txt",
                                   "x/abcdefghijklmnopB.tx",
                                   "abc\x80",
                                   "Sub/abcdefghijklmnopqrstuvwxyz1",
                                   "Sub/abcdefghijklmnopqrstuvwxyz0"};
    for (int i = 0; i < 60000; ++i)
        names.push_back("Deep/Common/Prefix" + std::to_string(i % 3) + "/Name" + std::to_string(i * 7919 % 5000)
                        + (i % 2 ? ".TXT" : ".txt"));
    ZipBytes z;
    for (std::size_t i = 0; i < names.size(); ++i)
        z.LocalHeader(names[i], std::string(i % 4, 'x'));
    z.EndRecord();
    auto w = Start({dir.Write("sorted.zip", z.Str())});
    ASSERT_EQ(w->Listing().rowCount(), static_cast<int>(names.size()));
    auto shown = [&] {
        std::vector<std::string> order;
        for (int r = 0; r < w->Listing().rowCount(); ++r)
            order.push_back(w->GetEntryName(r));
        return order;
    };
    // Clicks the column's header and compares the rows with a stable sort of what they
    // showed before: equal keys keep that order.
    auto clickAndCompare = [&](int column, bool ascending) {
        std::vector<std::pair<std::string, std::string>> expected; // key, stored name
        for (int r = 0; r < w->Listing().rowCount(); ++r) {
            std::string key = w->GetColumnText(r, column);
            for (char &c : key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (column == ColSize)
                key.insert(0, 20 - key.size(), '0');
            expected.emplace_back(key, w->GetEntryName(r));
        }
        std::stable_sort(expected.begin(), expected.end(), [&](const auto &a, const auto &b) {
            return ascending ? a.first < b.first : b.first < a.first;
        });
        w->ListViewFilesColumnClick(column);
        std::vector<std::string> names;
        for (const auto &e : expected)
            names.push_back(e.second);
        EXPECT_EQ(shown(), names) << "column " << column << (ascending ? " ascending" : " descending");
    };
    for (const int column : {ColFilename, ColPath, ColSize}) {
        clickAndCompare(column, true); // a first click sorts ascending, a second descending
        clickAndCompare(column, false);
    }
}

TEST_F(WindowTest, ArgumentWithUpperCaseZipExtensionIsOpened)
{
    ZipBytes z;
    z.LocalHeader("docs/sub/a.txt", std::string(1000, 'a'), DosDateTime(1999, 12, 31, 23, 59, 0))
        .LocalHeader("b.txt", "b")
        .EndRecord();
    const std::string path = dir.Write("B.ZIP", z.Str());
    auto w = Start({path});
    EXPECT_EQ(w->ZipEngine().ZipFilename(), path);
    EXPECT_EQ(w->StatusText().toStdString(), path);
    ASSERT_EQ(w->Listing().rowCount(), 2);
    EXPECT_EQ(w->GetColumnText(0, 0), "a.txt");
    EXPECT_EQ(w->GetColumnText(0, 1), "12/31/1999");
    EXPECT_EQ(w->GetColumnText(0, 2), "23:59");
    EXPECT_EQ(w->GetColumnText(0, 3), "1000");
    EXPECT_EQ(w->GetColumnText(0, 4), " ");
    EXPECT_EQ(w->GetColumnText(0, 5), "1000");
    EXPECT_EQ(w->GetColumnText(0, 6), "docs/sub");
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_TRUE(ui.Log.Errors.empty());
}

TEST_F(WindowTest, SelfExtractingNameIsOpenedToo)
{
    ZipBytes z;
    z.Fill(3000, '\x7f').LocalHeader("setup.txt", "s").EndRecord();
    auto w = Start({dir.Write("Setup.Exe", z.Str())});
    EXPECT_EQ(w->Listing().rowCount(), 1);
}

TEST_F(WindowTest, OtherArgumentsOpenNothingAndSayNothing)
{
    ZipBytes z;
    z.LocalHeader("a.txt", "a").EndRecord();
    for (const char *name : {"notes.txt", "archive.zip.txt", "zip"}) {
        auto w = Start({dir.Write(name, z.Str())});
        EXPECT_EQ(w->ZipEngine().ZipFilename(), "") << name;
        EXPECT_EQ(w->Listing().rowCount(), 0) << name;
        EXPECT_TRUE(w->StatusText().isEmpty()) << name;
    }
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_TRUE(ui.Log.Errors.empty());
}

TEST_F(WindowTest, MissingZipStaysTheOpenArchiveWithEmptyList)
{
    const std::string path = dir.File("new.zip");
    auto w = Start({path});
    EXPECT_EQ(w->ZipEngine().ZipFilename(), path);
    EXPECT_EQ(w->Listing().rowCount(), 0);
    EXPECT_TRUE(ui.Log.Messages.empty());
    EXPECT_TRUE(ui.Log.Errors.empty());
}

TEST_F(WindowTest, DamagedArchiveShowsErrorAndWindowStaysUsable)
{
    ZipBytes damaged;
    damaged.LocalHeader("ok.txt", "1")
        .U32(0x04034B50)
        .U16(10)
        .U16(0)
        .U16(0)
        .U32(DosDateTime(2020, 1, 2, 3, 4, 0))
        .U32(0) // crc-32
        .U32(9000)
        .U32(9000) // sizes reach past the end of the file
        .U16(7)
        .U16(0)
        .Raw("cut.txt")
        .Fill(40, 'd');
    const std::string path = dir.Write("damaged.zip", damaged.Str());
    auto w = Start({path});
    EXPECT_EQ(ui.Log.Errors, std::vector<std::string>{"Error 3 reading Zip file."});
    EXPECT_EQ(Column(*w, 0), (std::vector<std::string>{"ok.txt", "cut.txt"}));
    EXPECT_EQ(w->ZipEngine().ZipFilename(), path); // kept: the component got the name
    EXPECT_TRUE(w->StatusText().isEmpty());        // not updated after a failed open

    ZipBytes good;
    good.LocalHeader("fine.txt", "f").EndRecord();
    const std::string goodPath = dir.Write("good.zip", good.Str());
    w->OpenZipFile(goodPath);
    EXPECT_EQ(Column(*w, 0), std::vector<std::string>{"fine.txt"});
    EXPECT_EQ(w->StatusText().toStdString(), goodPath);
}

TEST_F(WindowTest, InvalidEntryDateShowsBlankAndTheListingGoesOn)
{
    ZipBytes z;
    z.LocalHeader("first.txt", "1")
        .LocalHeader("bad-date.txt", "2", DosDateTime(2001, 2, 30, 0, 0, 0))
        .LocalHeader("never.txt", "3")
        .EndRecord();
    auto w = Start({dir.Write("dates.zip", z.Str())});
    EXPECT_TRUE(ui.Log.Errors.empty());
    EXPECT_EQ(Column(*w, 0), (std::vector<std::string>{"first.txt", "bad-date.txt", "never.txt"}));
    EXPECT_EQ(Column(*w, 1)[1], " ");
}

TEST_F(WindowTest, EntryNameIsTheExactStoredName)
{
    ZipBytes z;
    z.LocalHeader("Docs/A.txt", "1")
        .LocalHeader("docs/A.txt", "2")
        .LocalHeader("x\\docs/", "")
        .LocalHeader("top", "3")
        .EndRecord();
    auto w = Start({dir.Write("case.zip", z.Str())});
    EXPECT_EQ(w->GetEntryName(0), "Docs/A.txt");
    EXPECT_EQ(w->GetEntryName(1), "docs/A.txt");
    EXPECT_EQ(w->GetEntryName(2), "x\\docs/");
    EXPECT_EQ(w->GetEntryName(3), "top");
    EXPECT_EQ(w->PathSeparator(), '/'); // set by the last row's split
}

TEST_F(WindowTest, ClosingTheArchiveEmptiesTheList)
{
    ZipBytes z;
    z.LocalHeader("a.txt", "a").EndRecord();
    auto w = Start({dir.Write("a.zip", z.Str())});
    ASSERT_EQ(w->Listing().rowCount(), 1);
    w->ZipEngine().SetZipFilename("");
    EXPECT_EQ(w->Listing().rowCount(), 0);
}

// A name from MS-DOS in CP866: read in the language's code page until the user names
// another, and the status bar says which one it was.
TEST_F(WindowTest, NameEncodingMenuReReadsTheArchiveAndTheStatusBarNamesTheCodePage)
{
    const char *previous = std::getenv("LC_ALL");
    const std::string saved = previous ? previous : "";
    ::setenv("LC_ALL", "C", 1);
    ZipBytes z;
    z.LocalHeader("\x8E\xE2\xE7\xA5\xE2.txt", "data").EndRecord();
    auto w = Start({dir.Write("a.zip", z.Str())});
    auto *label = w->findChild<QLabel *>(QStringLiteral("StatusBarNameEncoding"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text().toStdString(), "Names: CP437");

    auto *menu = w->findChild<QMenu *>(QStringLiteral("MenuNameEncoding"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("&Name encoding"));
    QAction *cp866 = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->data().toString() == QStringLiteral("CP866"))
            cp866 = action;
    }
    ASSERT_NE(cp866, nullptr);
    EXPECT_TRUE(menu->actions().front()->isChecked()); // Automatic
    cp866->trigger();
    EXPECT_TRUE(cp866->isChecked());
    EXPECT_EQ(Column(*w, 0), std::vector<std::string>{"\u041E\u0442\u0447\u0435\u0442.txt"});
    EXPECT_EQ(label->text().toStdString(), "Names: CP866");

    // An archive of UTF-8 names needs no word about code pages.
    w->OpenZipFile(dir.Write("b.zip", ZipBytes().LocalHeader("plain.txt", "x").EndRecord().Str()));
    EXPECT_TRUE(label->isHidden());
    if (previous)
        ::setenv("LC_ALL", saved.c_str(), 1);
    else
        ::unsetenv("LC_ALL");
}

TEST_F(WindowTest, StoreLinksAsLinksIsOffUntilChosen)
{
    auto w = Start();
    ASSERT_NE(w->MenuStoreLinks, nullptr);
    EXPECT_EQ(w->MenuStoreLinks->text(), QStringLiteral("Store &links as links"));
    EXPECT_FALSE(w->MenuStoreLinks->isChecked());
    EXPECT_FALSE(w->ZipEngine().StoreLinks);
    w->MenuStoreLinks->trigger();
    EXPECT_TRUE(w->ZipEngine().StoreLinks);
    w->MenuStoreLinks->trigger();
    EXPECT_FALSE(w->ZipEngine().StoreLinks);
}
