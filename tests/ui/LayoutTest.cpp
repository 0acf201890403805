#include "UiTestSupport.h"

#include <QTest>
#include <map>

namespace {

using Id = CTerminalDlg::ControlId;

std::map<int, QRect> Rects(CTerminalDlg& dialog) {
    std::map<int, QRect> rects;
    for (int id = Id::IDC_LIST; id <= Id::IDC_CLOSE; ++id)
        rects[id] = dialog.Control(id)->geometry();
    return rects;
}

void ResizeTo(CTerminalDlg& dialog, QSize size) {
    dialog.resize(size);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.size() == size; }, 2000));
}

} // namespace

// Dialog units map through "Courier New" 9 pt, which at 96 dpi (Liberation Mono) gives base
// units of 7 x 14 pixels.
TEST_F(DialogTest, TemplateGivesTheClientSizeAndLayoutFollowsTheWindow) {
    CTerminalDlg& dialog = Dialog();
    EXPECT_EQ(dialog.size(), QSize(739, 544));
    dialog.show();
    // The cursor field keeps its template rectangle; the rest are placed from the edges.
    const std::map<int, QRect> at1000x800{
        {Id::IDC_LIST, {12, 33, 978, 704}},      {Id::IDC_CURSOR, {12, 9, 137, 14}},
        {Id::IDC_STATUS, {306, 9, 684, 14}},     {Id::IDC_CONFIG_PORT, {12, 771, 88, 25}},
        {Id::IDC_MONITOR, {137, 771, 88, 25}},   {Id::IDC_LABEL, {12, 747, 978, 14}},
        {Id::IDC_COPY, {261, 771, 88, 25}},      {Id::IDC_PRINT, {385, 771, 88, 25}},
        {Id::IDC_SAVE_FILE, {509, 771, 88, 25}}, {Id::IDC_CLOSE, {908, 771, 88, 25}},
    };
    ResizeTo(dialog, {1000, 800});
    EXPECT_EQ(Rects(dialog), at1000x800);

    // Below 739 x 544 nothing moves.
    for (const QSize small : {QSize(738, 900), QSize(1100, 543), QSize(400, 300)}) {
        ResizeTo(dialog, small);
        EXPECT_EQ(Rects(dialog), at1000x800) << small.width() << "x" << small.height();
    }

    ResizeTo(dialog, {739, 544});
    EXPECT_EQ(dialog.Control(Id::IDC_CLOSE)->geometry(), QRect(647, 515, 88, 25));
    EXPECT_EQ(dialog.Control(Id::IDC_LIST)->geometry(), QRect(12, 33, 717, 448));
}
