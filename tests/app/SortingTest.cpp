// Sorting through real clicks on the list's column headers.
#include "tests/app/WindowFixture.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTest>

using namespace pellux;
using namespace pellux::test;

namespace {

class SortingTest : public WindowTest {
protected:
    void SetUp() override
    {
        ZipBytes z;
        z.LocalHeader("b.txt", std::string(10, 'b'), DosDateTime(2003, 5, 1, 10, 0, 0))
            .LocalHeader("A.txt", std::string(9, 'a'), DosDateTime(2001, 1, 1, 9, 30, 0))
            .LocalHeader("c.txt", "", DosDateTime(2003, 5, 1, 9, 0, 0)) // size " "
            .LocalHeader("z/d.txt", std::string(100, 'd'), DosDateTime(1999, 12, 31, 23, 59, 0))
            .LocalHeader("a/e.txt", std::string(2, 'e'), DosDateTime(2010, 7, 4, 12, 0, 0))
            .EndRecord();
        window = Start({dir.Write("sort.zip", z.Str())});
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void ClickHeader(int column)
    {
        QHeaderView *header = window->ListViewFiles->header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }

    std::vector<std::string> Names() { return Column(*window, ColFilename); }

    std::unique_ptr<TFormMainZip> window;
};

} // namespace

TEST_F(SortingTest, RowsStayInArchiveOrderUntilAHeaderClick)
{
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.txt", "A.txt", "c.txt", "d.txt", "e.txt"}));
    EXPECT_EQ(window->SortColumn(), -1);
}

TEST_F(SortingTest, SameHeaderTogglesDirection)
{
    const std::vector<std::string> ascending = {"A.txt", "b.txt", "c.txt", "d.txt", "e.txt"};
    const std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
    ClickHeader(ColFilename);
    EXPECT_EQ(Names(), ascending);
    ClickHeader(ColFilename);
    EXPECT_EQ(Names(), descending);
    ClickHeader(ColFilename);
    EXPECT_EQ(Names(), ascending);
    EXPECT_EQ(window->ListViewFiles->header()->sortIndicatorOrder(), Qt::AscendingOrder);
}

TEST_F(SortingTest, AnotherHeaderStartsAscending)
{
    ClickHeader(ColFilename);
    ClickHeader(ColFilename); // descending now
    ClickHeader(ColPath);
    EXPECT_TRUE(window->SortAscending());
    EXPECT_EQ(Column(*window, ColPath), (std::vector<std::string>{"", "", "", "a", "z"}));
}

TEST_F(SortingTest, SizeSortsAsNumbersWithBlankAsZero)
{
    ClickHeader(ColSize);
    EXPECT_EQ(Column(*window, ColSize), (std::vector<std::string>{" ", "2", "9", "10", "100"}));
    ClickHeader(ColSize);
    EXPECT_EQ(Column(*window, ColSize), (std::vector<std::string>{"100", "10", "9", "2", " "}));
}

TEST_F(SortingTest, DateAndTimeColumnsGiveTheSameOrder)
{
    const std::vector<std::string> chronological = {"d.txt", "A.txt", "c.txt", "b.txt", "e.txt"};
    ClickHeader(ColDate);
    EXPECT_EQ(Names(), chronological);
    ClickHeader(ColTime);
    EXPECT_EQ(Names(), chronological);
}

TEST_F(SortingTest, SelectionFollowsItsRows)
{
    auto *selection = window->ListViewFiles->selectionModel();
    selection->select(window->Listing().index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ClickHeader(ColFilename);
    const QModelIndexList rows = selection->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(window->GetEntryName(rows[0].row()), "b.txt");
}

TEST_F(SortingTest, RebuildKeepsTheRememberedDirection)
{
    ClickHeader(ColSize);
    window->ZipEngine().List(); // re-read: rows come back in archive order
    EXPECT_EQ(Names(), (std::vector<std::string>{"b.txt", "A.txt", "c.txt", "d.txt", "e.txt"}));
    ClickHeader(ColSize); // the remembered direction flips to descending
    EXPECT_EQ(Column(*window, ColSize).front(), "100");
}

TEST_F(SortingTest, CompareAnswersFollowTheDirection)
{
    ClickHeader(ColSize); // ascending by size
    int compare = 0;
    window->ListViewFilesCompare(0, 1, 0, compare); // " " against "2"
    EXPECT_EQ(compare, -1);
    window->ListViewFilesCompare(1, 1, 0, compare); // equal keys: the first one first
    EXPECT_EQ(compare, -1);
    ClickHeader(ColSize);                           // descending
    window->ListViewFilesCompare(0, 1, 0, compare); // "100" against "10"
    EXPECT_EQ(compare, -1);
}
