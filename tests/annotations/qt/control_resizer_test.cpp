// TControlResizer: defaults, handle placement, body and handle drags with their frame,
// ApplyToTarget, and the Movable / Resizable switches.
#include <QPainter>
#include <QtTest>
#include <memory>
#include <vector>

#include "annotations/qt/control_resizer.h"
#include "annotations/qt/mouse.h"

using namespace qil;
using namespace qil::testing;

namespace {

// A parent that counts its paints and those of the target it holds.
class CountingWidget : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter(this).fillRect(rect(), QColor(0x40, 0x80, 0xC0));
    }
};

struct Event {
    TRect oldBounds, newBounds;
};

// A shown parent of 400 x 400 with a target at (105, 105, 190, 140) and a resizer laid over it
// (so at 100, 100, 200, 150 with the default BoxSize 5).
struct Scene {
    CountingWidget parent;
    CountingWidget* target;
    TControlResizer* resizer;
    std::vector<Event> moved, resized, moving, resizing;

    Scene() {
        parent.resize(400, 400);
        target = new CountingWidget(&parent);
        target->setGeometry(105, 105, 190, 140);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        resizer = new TControlResizer(&parent);
        resizer->SetTargetControl(target);
        resizer->OnMoved = [this](QObject*, TRect o, TRect n) { moved.push_back({o, n}); };
        resizer->OnResized = [this](QObject*, TRect o, TRect n) { resized.push_back({o, n}); };
        resizer->OnMoving = [this](QObject*, TRect o, TRect n) { moving.push_back({o, n}); };
        resizer->OnResizing = [this](QObject*, TRect o, TRect n) { resizing.push_back({o, n}); };
    }
    QWidget* handle(TControlResizer::THandleKind k) const { return resizer->Handle(k); }
};

}  // namespace

class ControlResizerTest : public QObject {
    Q_OBJECT
private slots:
    void defaults() {
        TControlResizer r;
        QCOMPARE(r.Width(), 25);
        QCOMPARE(r.Height(), 25);
        QCOMPARE(r.MinWidth(), 8);
        QCOMPARE(r.MinHeight(), 8);
        QCOMPARE(r.BoxSize(), 5);
        QCOMPARE(r.BoxColor(), 0u);
        QCOMPARE(r.LineSize(), 2);
        QVERIFY(r.Resizable());
        QVERIFY(r.Movable());
        QVERIFY(!r.TargetControl());
        QVERIFY(!r.HandlesCreated());
        QVERIFY(!r.Busy() && !r.Moving() && !r.Resizing());
        QCOMPARE(r.cursor().shape(), Qt::SizeAllCursor);
        QVERIFY(!r.isVisible());  // no parent: never a window of its own
    }

    void targetGivesParentBoundsAndHandles() {
        Scene s;
        QCOMPARE(s.resizer->Parent(), &s.parent);
        QCOMPARE(s.resizer->geometry(), QRect(100, 100, 200, 150));
        QVERIFY(s.resizer->HandlesCreated());
        for (int k = 0; k < 8; ++k) {
            QWidget* h = s.handle(static_cast<TControlResizer::THandleKind>(k));
            QVERIFY(h->isVisible());
            QCOMPARE(h->parentWidget(), &s.parent);
        }
        // The resizer is in front of its target; the handles in front of the resizer.
        QCOMPARE(s.parent.childAt(150, 150), static_cast<QWidget*>(s.resizer));
        QCOMPARE(s.parent.childAt(100, 100), s.handle(TControlResizer::hkTopLeft));
        // Setting the same target again changes nothing; nil leaves the parent.
        s.resizer->SetBounds(0, 0, 50, 50);
        s.resizer->SetTargetControl(s.target);
        QCOMPARE(s.resizer->geometry(), QRect(0, 0, 50, 50));
        s.resizer->SetTargetControl(nullptr);
        QVERIFY(!s.resizer->Parent());
        QVERIFY(!s.resizer->TargetControl());
        QVERIFY(!s.handle(TControlResizer::hkTop)->isVisible());
        delete s.resizer;  // without a parent nobody else frees it
    }

    void handleTable() {
        Scene s;
        struct Row {
            TControlResizer::THandleKind kind;
            QRect geometry;
            Qt::CursorShape cursor;
        };
        // BoxSize 5 (h = 2) on 100, 100, 200, 150.
        const Row rows[] = {
            {TControlResizer::hkTopLeft, QRect(98, 98, 5, 5), Qt::SizeFDiagCursor},
            {TControlResizer::hkBottomLeft, QRect(98, 247, 5, 5), Qt::SizeBDiagCursor},
            {TControlResizer::hkBottomRight, QRect(297, 247, 5, 5), Qt::SizeFDiagCursor},
            {TControlResizer::hkTopRight, QRect(297, 98, 5, 5), Qt::SizeBDiagCursor},
            {TControlResizer::hkTop, QRect(197, 98, 5, 5), Qt::SizeVerCursor},
            {TControlResizer::hkLeft, QRect(98, 172, 5, 5), Qt::SizeHorCursor},
            {TControlResizer::hkBottom, QRect(197, 247, 5, 5), Qt::SizeVerCursor},
            {TControlResizer::hkRight, QRect(297, 172, 5, 5), Qt::SizeHorCursor},
        };
        for (const Row& r : rows) {
            QCOMPARE(s.handle(r.kind)->geometry(), r.geometry);
            QCOMPARE(s.handle(r.kind)->cursor().shape(), r.cursor);
        }
        // The top-left handle covers columns and rows 98..102; the bottom-right 297..301 and 247..251.
        QCOMPARE(s.handle(TControlResizer::hkTopLeft)->geometry().right(), 102);
        QCOMPARE(s.handle(TControlResizer::hkBottomRight)->geometry().bottom(), 251);
        // BoxSize repositions and resizes; BoxColor recolors.
        s.resizer->SetBoxSize(8);
        QCOMPARE(s.handle(TControlResizer::hkBottomRight)->geometry(), QRect(296, 246, 8, 8));
        s.resizer->SetBoxColor(0xFF0000);
        QCOMPARE(s.resizer->Handle(TControlResizer::hkTop)->BrushColor(), 0xFF0000u);
        QImage shot = s.parent.grab().toImage();
        QCOMPARE(QColor(shot.pixel(200, 101)), QColor(0, 0, 255));  // inside the top handle
    }

    void hidingTheResizerHidesTheHandles() {
        Scene s;
        s.resizer->SetVisible(false);
        QVERIFY(!s.handle(TControlResizer::hkLeft)->isVisible());
        s.resizer->SetVisible(true);
        QVERIFY(s.handle(TControlResizer::hkLeft)->isVisible());
    }

    void bodyDragMovesOnRelease() {
        Scene s;
        Press(s.resizer, QPoint(50, 50));
        QVERIFY(s.resizer->Moving());
        QVERIFY(!s.handle(TControlResizer::hkTop)->isVisible());
        Move(s.resizer, QPoint(55, 48));
        Move(s.resizer, QPoint(60, 46));
        auto f = s.resizer->Frame();
        QCOMPARE(QRect(f.Left, f.Top, f.Width, f.Height), QRect(110, 96, 200, 150));
        QCOMPARE(s.resizer->geometry(), QRect(100, 100, 200, 150));  // nothing moves before the release
        QCOMPARE(s.target->geometry(), QRect(105, 105, 190, 140));
        QVERIFY(s.moved.empty());
        // OnMoving: the current bounds and the frame less BoxSize (width and height in Right, Bottom).
        QVERIFY(!s.moving.empty());
        QCOMPARE(s.moving.back().oldBounds, (TRect{100, 100, 300, 250}));
        QCOMPARE(s.moving.back().newBounds, (TRect{115, 101, 190, 140}));
        Release(s.resizer, QPoint(60, 46));
        QVERIFY(!s.resizer->Moving());
        QVERIFY(!s.resizer->FrameOverlay());
        QCOMPARE(s.resizer->geometry(), QRect(110, 96, 200, 150));
        QCOMPARE(s.target->geometry(), QRect(115, 101, 190, 140));
        QCOMPARE(s.moved.size(), size_t{1});
        QCOMPARE(s.moved[0].oldBounds, (TRect{100, 100, 300, 250}));
        QCOMPARE(s.moved[0].newBounds, (TRect{110, 96, 310, 246}));
        QVERIFY(s.handle(TControlResizer::hkTop)->isVisible());
        QCOMPARE(s.handle(TControlResizer::hkTopLeft)->geometry().topLeft(), QPoint(108, 94));
        // A release without a move raises nothing and shows the handles again.
        Drag(s.resizer, QPoint(20, 20), {});
        QCOMPARE(s.moved.size(), size_t{1});
        QVERIFY(s.handle(TControlResizer::hkTop)->isVisible());
        // Only the left button drags.
        Drag(s.resizer, QPoint(20, 20), {});
        Press(s.resizer, QPoint(20, 20), Qt::RightButton);
        QVERIFY(!s.resizer->Moving());
    }

    void dragFrameIsDrawnOnAnOverlayAndNothingElseRepaints() {
        Scene s;
        s.resizer->SetLineSize(2);
        QCoreApplication::processEvents();
        QImage before = s.parent.grab().toImage().convertToFormat(QImage::Format_RGB32);
        Press(s.resizer, QPoint(50, 50));
        QWidget* overlay = s.resizer->FrameOverlay();
        QVERIFY(overlay);
        QCOMPARE(overlay->parentWidget(), &s.parent);
        QCoreApplication::processEvents();
        int parentPaints = s.parent.paints, targetPaints = s.target->paints;
        for (int i = 1; i <= 10; ++i) {
            Move(s.resizer, QPoint(50 + 3 * i, 50 + i));
            QCoreApplication::processEvents();
        }
        QCOMPARE(s.parent.paints, parentPaints);
        QCOMPARE(s.target->paints, targetPaints);
        QCOMPARE(s.resizer->geometry(), QRect(100, 100, 200, 150));
        // The frame at (130, 110, 200, 150): two nested dotted rectangles, every other pixel
        // inverted; the pixels between the dots and inside the frame are as before.
        QImage shot = overlay->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QPoint o = overlay->pos();
        auto at = [&](int x, int y) { return shot.pixel(x - o.x(), y - o.y()) & 0xFFFFFF; };
        auto was = [&](int x, int y) { return before.pixel(x, y) & 0xFFFFFF; };
        QCOMPARE(at(130, 110), was(130, 110) ^ 0xFFFFFF);  // (x + y) even: inverted
        QCOMPARE(at(131, 110), was(131, 110));
        QCOMPARE(at(132, 110), was(132, 110) ^ 0xFFFFFF);
        QCOMPARE(at(131, 111), was(131, 111) ^ 0xFFFFFF);  // the second rectangle, one in
        QCOMPARE(at(329, 259), was(329, 259) ^ 0xFFFFFF);  // last column and row of the frame
        QCOMPARE(at(330, 260), was(330, 260));
        QCOMPARE(at(200, 180), was(200, 180));  // inside
        QCOMPARE(at(132, 112), was(132, 112));  // inside the second rectangle
        Release(s.resizer, QPoint(80, 60));
        QVERIFY(!s.resizer->FrameOverlay());
    }

    void topHandleMovesOnlyVertically() {
        Scene s;
        QWidget* top = s.handle(TControlResizer::hkTop);
        Press(top, QPoint(2, 2));
        QVERIFY(s.resizer->Resizing());
        QVERIFY(s.resizing.empty());  // the first frame is drawn before the drag counts
        Move(top, QPoint(40, -8));
        auto f = s.resizer->Frame();
        QCOMPARE(QRect(f.Left, f.Top, f.Width, f.Height), QRect(100, 90, 200, 160));
        QCOMPARE(s.resizing.back().oldBounds, (TRect{100, 100, 300, 250}));
        QCOMPARE(s.resizing.back().newBounds, (TRect{105, 95, 190, 150}));
        Release(top, QPoint(-60, -8));
        QCOMPARE(s.resizer->geometry(), QRect(100, 90, 200, 160));
        QCOMPARE(s.target->geometry(), QRect(105, 95, 190, 150));
        QCOMPARE(s.resized.size(), size_t{1});
        QCOMPARE(s.resized[0].oldBounds, (TRect{100, 100, 300, 250}));
        QCOMPARE(s.resized[0].newBounds, (TRect{100, 90, 300, 250}));
        QVERIFY(top->isVisible());
    }

    // Through the window, as the user drags: the pressed handle is hidden at once, yet it
    // keeps the mouse until the release.
    void dragsThroughTheWindow_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QPoint>("by");
        QTest::addColumn<QRect>("result");
        QTest::newRow("right") << int(TControlResizer::hkRight) << QPoint(30, 9) << QRect(100, 100, 230, 150);
        QTest::newRow("top-left") << int(TControlResizer::hkTopLeft) << QPoint(-10, 20) << QRect(90, 120, 210, 130);
        QTest::newRow("body") << -1 << QPoint(10, -4) << QRect(110, 96, 200, 150);
    }
    void dragsThroughTheWindow() {
        QFETCH(int, kind);
        QFETCH(QPoint, by);
        QFETCH(QRect, result);
        Scene s;
        QWindow* window = s.parent.windowHandle();
        const QPoint at = kind < 0 ? QPoint(150, 150)
                                   : s.handle(static_cast<TControlResizer::THandleKind>(kind))->geometry().topLeft() +
                                         QPoint(2, 2);
        QTest::mousePress(window, Qt::LeftButton, {}, at);
        QTest::mouseMove(window, at + by / 2);
        QTest::mouseMove(window, at + by);
        QTest::mouseRelease(window, Qt::LeftButton, {}, at + by);
        QVERIFY(!s.resizer->Resizing() && !s.resizer->Moving());
        QCOMPARE(s.resizer->geometry(), result);
        QCOMPARE(s.target->geometry(), result.adjusted(5, 5, -5, -5));
        QCOMPARE(s.moved.size() + s.resized.size(), size_t{1});
        QVERIFY(!QWidget::mouseGrabber());
        QVERIFY(s.handle(TControlResizer::hkTop)->isVisible());
    }

    void rightHandlePastMinWidth() {
        Scene s;
        QWidget* right = s.handle(TControlResizer::hkRight);
        Press(right, QPoint(2, 2));
        Move(right, QPoint(-190, 2));  // width 200 - 192 = 8: at the minimum
        QCOMPARE(s.resizer->Frame().Width, 8);
        Move(right, QPoint(-600, 40));  // clamped to -200 (-W): width -2, shown as MinWidth
        auto f = s.resizer->Frame();
        QCOMPARE(QRect(f.Left, f.Top, f.Width, f.Height), QRect(100, 100, 8, 150));
        // Released there: no minimum; the width is 0 or more.
        Release(right, QPoint(-600, 40));
        QCOMPARE(s.resizer->Left(), 100);
        QCOMPARE(s.resizer->Width(), 0);
        QCOMPARE(s.resizer->Height(), 150);
        QCOMPARE(s.target->geometry(), QRect(105, 105, 190, 140));  // too narrow: target kept
        QCOMPARE(s.resized.size(), size_t{1});
    }

    void cornerHandlesFollowTheTable() {
        struct Row {
            TControlResizer::THandleKind kind;
            QPoint to;  // pointer position relative to the handle, pressed at (2, 2)
            QRect result;
        };
        const Row rows[] = {
            {TControlResizer::hkTopLeft, QPoint(12, -8), QRect(110, 90, 190, 160)},
            {TControlResizer::hkBottomLeft, QPoint(12, -8), QRect(110, 100, 190, 140)},
            {TControlResizer::hkBottomRight, QPoint(12, -8), QRect(100, 100, 210, 140)},
            {TControlResizer::hkTopRight, QPoint(12, -8), QRect(100, 90, 210, 160)},
            {TControlResizer::hkLeft, QPoint(12, -8), QRect(110, 100, 190, 150)},
            {TControlResizer::hkBottom, QPoint(12, 22), QRect(100, 100, 200, 170)},
        };
        for (const Row& r : rows) {
            Scene s;
            QWidget* h = s.handle(r.kind);
            Drag(h, QPoint(2, 2), {r.to});
            QCOMPARE(s.resizer->geometry(), r.result);
            QCOMPARE(s.target->geometry(), r.result.adjusted(5, 5, -5, -5));
        }
    }

    void releaseWithoutChangeStillRaisesOnResized() {
        Scene s;
        Drag(s.handle(TControlResizer::hkBottom), QPoint(2, 2), {});
        QCOMPARE(s.resized.size(), size_t{1});
        QCOMPARE(s.resized[0].oldBounds, s.resized[0].newBounds);
    }

    void applyToTargetNeedsRoom() {
        Scene s;
        s.resizer->SetBounds(50, 50, 10, 30);  // width 2 x BoxSize
        s.resizer->ApplyToTarget();
        QCOMPARE(s.target->geometry(), QRect(105, 105, 190, 140));
        s.resizer->SetBounds(50, 50, 11, 11);
        s.resizer->ApplyToTarget();
        QCOMPARE(s.target->geometry(), QRect(55, 55, 1, 1));
        s.resizer->SetVisible(false);
        s.resizer->SetBounds(0, 0, 100, 100);
        s.resizer->ApplyToTarget();
        QCOMPARE(s.target->geometry(), QRect(55, 55, 1, 1));
        s.resizer->SetVisible(true);
        s.resizer->FitToTarget();
        QCOMPARE(s.resizer->geometry(), QRect(50, 50, 11, 11));
    }

    void switchedOffDragsDoNothing() {
        Scene s;
        s.resizer->SetMovable(false);
        Drag(s.resizer, QPoint(50, 50), {QPoint(70, 70)});
        QVERIFY(!s.resizer->FrameOverlay());
        QCOMPARE(s.resizer->geometry(), QRect(100, 100, 200, 150));
        QVERIFY(s.moved.empty());
        s.resizer->SetResizable(false);
        QWidget* right = s.handle(TControlResizer::hkRight);
        Drag(right, QPoint(2, 2), {QPoint(40, 2)});
        QCOMPARE(s.resizer->geometry(), QRect(100, 100, 200, 150));
        QVERIFY(s.resized.empty());  // not even the release
        QVERIFY(right->isVisible());
    }

    void mouseInputIsIgnoredWhileBusy() {
        Scene s;
        auto* other = new CountingWidget(&s.parent);
        other->setGeometry(20, 20, 40, 40);
        other->show();
        // A press waiting in the queue arrives while SetTargetControl lets pending events run.
        QPoint at(10, 10);
        QCoreApplication::postEvent(s.resizer, new QMouseEvent(QEvent::MouseButtonPress, QPointF(at), QPointF(s.resizer->mapToGlobal(at)),
                                                               Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        s.resizer->SetTargetControl(other);
        QVERIFY(!s.resizer->Moving());
        QVERIFY(!s.resizer->Busy());
        QCOMPARE(s.resizer->geometry(), QRect(15, 15, 50, 50));
        QVERIFY(s.handle(TControlResizer::hkTop)->isVisible());
    }

    void handlesPaintBoxColorAndHandlesDieWithTheResizer() {
        Scene s;
        QPointer<QWidget> h = s.handle(TControlResizer::hkTopLeft);
        delete s.resizer;
        QVERIFY(h.isNull());
    }

    void ownerTakesTheResizerAlong() {
        QWidget parent;
        auto* owner = new QObject;
        QPointer<TControlResizer> r = new TControlResizer(owner);
        r->SetParent(&parent);
        delete owner;
        QVERIFY(r.isNull());
    }
};

QTEST_MAIN(ControlResizerTest)
#include "control_resizer_test.moc"
