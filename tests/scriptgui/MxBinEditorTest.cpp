#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "scriptgui/MxBinEditor.h"
#include "scriptgui/MxShareMemStream.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pek::test {
namespace {

std::string Content(TMxBinEditor& grid) { return grid.Model().Document().Read(0, grid.FileSize()); }

TEST(MxBinEditor, KeysClipboardAndForeignClipboardData)
{
    TMxBinEditor grid;
    grid.resize(600, 200);
    grid.show();
    const std::string data("A\0B", 3);
    grid.LoadFromMemory(data.data(), 3);
    grid.setFocus();
    QTest::keyClicks(&grid, "4");
    QTest::keyClick(&grid, Qt::Key_1);  // the first byte becomes 0x41 again; the cursor moves on
    EXPECT_EQ(Content(grid), data);
    QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&grid, Qt::Key_End, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->text(), "A.B");
    EXPECT_EQ(copied->data(MxBinaryMimeType), QByteArray(data.data(), 3));
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Content(grid), data + data);
    // Another program's data whose text form is longer than its bytes: only the bytes count.
    auto* foreign = new QMimeData;
    foreign->setText("a much longer text form");
    foreign->setData(MxBinaryMimeType, "xy");
    QApplication::clipboard()->setMimeData(foreign);
    QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Content(grid), data + data + "xy");
    QTest::keyClick(&grid, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Content(grid), data + data);
    grid.SetReadOnlyMode(true);
    QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClicks(&grid, "ff");
    EXPECT_EQ(Content(grid), data + data);
}

TEST(MxBinEditor, ContentSizeFollowsTheColumns)
{
    TMxBinEditor grid;
    const std::string sixteen(16, 'x');
    grid.LoadFromMemory(sixteen.data(), 16);
    const TMxBinGeometry& g = grid.Geometry();
    EXPECT_EQ(grid.Model().RowCount(), 3);
    EXPECT_EQ(grid.ContentSize().height(), 3 * g.RowHeight);
    const int full = grid.ContentSize().width();
    EXPECT_EQ(full, g.W * 8 + 10 + 10 + 16 * 3 * g.W + 2 * g.W + 16 * g.W);
    grid.SetHideRowCount(true);
    grid.SetHideByteView(true);
    grid.SetHideOffsetHeader(true);
    EXPECT_EQ(grid.ContentSize().width(), 10 + 16 * 3 * g.W + 3 * g.W);
    EXPECT_EQ(grid.ContentSize().height(), 2 * g.RowHeight);
    grid.SetColumnBytes(TMxColumnBytes::cb4byte);
    EXPECT_EQ(g.ColWidth(4), 2 * g.W);
    EXPECT_EQ(g.ColWidth(5), 3 * g.W);
}

TEST(MxShareMemStream, AccessesStayInsideTheBlockItReallyHas)
{
    const std::string name = "pek-test-" + std::to_string(::getpid());
    {
        TMxShareMemStream stream(name, 260);
        EXPECT_EQ(stream.Size(), 260);
        const char text[] = "hello";
        stream.Write(text, 5);
        EXPECT_EQ(stream.Seek(-1, TMxShareMemStream::TOrigin::End), 259);
        EXPECT_THROW(stream.Write(text, 2), Exception);
        stream.Seek(-10, TMxShareMemStream::TOrigin::Begin);
        char buffer[8] = {};
        EXPECT_EQ(stream.Read(buffer, 8), 0);
        EXPECT_THROW(stream.Write(text, 1), Exception);
        stream.Seek(INT64_MAX, TMxShareMemStream::TOrigin::Current);
        EXPECT_THROW(stream.Write(text, 1), Exception);
        stream.Seek(0, TMxShareMemStream::TOrigin::Begin);
        EXPECT_EQ(stream.Read(buffer, 5), 5);
        EXPECT_EQ(std::string(buffer, 5), "hello");
    }
    // Another program made the block smaller: only what exists is mapped and used.
    const int fd = ::shm_open(("/" + name).c_str(), O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4), 0);
    ::close(fd);
    {
        TMxShareMemStream stream(name, 260);
        EXPECT_EQ(stream.Size(), 4);
        char buffer[260];
        EXPECT_EQ(stream.Read(buffer, 260), 4);
        stream.Seek(0, TMxShareMemStream::TOrigin::Begin);
        EXPECT_THROW(stream.Write(buffer, 5), Exception);
    }
    ::shm_unlink(("/" + name).c_str());
    EXPECT_THROW(TMxShareMemStream("no/such/dir", 10), Exception);
}

// A block someone else made, or that others may write, is refused: its text could be read and set
// by them. Our own private block is used.
TEST(MxShareMemStream, RefusesABlockOfAnotherUserOrWritableByOthers)
{
    const std::string name = "pek-test-owner-" + std::to_string(::getpid());
    struct Case {
        mode_t mode;
        uid_t owner;
        bool usable;
    };
    std::vector<Case> cases = {{0666, ::geteuid(), false}, {0620, ::geteuid(), false}, {0602, ::geteuid(), false},
                               {0600, ::geteuid(), true}};
    if (::geteuid() == 0) cases.push_back({0600, 65534, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const int fd = ::shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::fchmod(fd, c.mode), 0);
        ASSERT_EQ(::fchown(fd, c.owner, gid_t(-1)), 0);
        ASSERT_EQ(::ftruncate(fd, 260), 0);
        ::close(fd);
        std::string message;
        try {
            TMxShareMemStream stream(name, 260);
        } catch (const Exception& e) {
            message = e.what();
        }
        ::shm_unlink(("/" + name).c_str());
        if (c.usable) EXPECT_EQ(message, "");
        else EXPECT_EQ(message, Sjis("共有メモリ[") + name + Sjis("]は他のユーザーが作ったか書き込めるため使いません"));
    }
}

}  // namespace
}  // namespace pek::test
