// Following the window: the checks of TrackWindow and where PlaceOnDevices puts the window on
// one display and across monitors.
#include "fake_display_fixture.h"

namespace orvenna {
namespace {

using PlacementTest = FakeDisplayTest;

const RECT kLeft{0, 0, 1920, 1080};
const RECT kRight{1920, 0, 3840, 1080};

::testing::AssertionResult IsRect(const RECT& r, LONG left, LONG top, LONG right, LONG bottom) {
    if (r.left == left && r.top == top && r.right == right && r.bottom == bottom) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}

class PlacedWindow {
  public:
    PlacedWindow(platform::FakeBackend& fake, DDrawDisplayEngine* engine, RECT client)
        : m_hWnd(fake.AddWindow(client)) {
        EXPECT_EQ(engine->SetDisplayWindow(m_hWnd), ORVD_OK);
    }
    HWND Get() const { return m_hWnd; }

  private:
    HWND m_hWnd;
};

TEST_F(PlacementTest, OneDisplayDrawsTheWindowAtItsScreenRectangle) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    PlacedWindow window(Fake(), engine, RECT{100, 50, 740, 530});
    EXPECT_EQ(engine->TrackWindow(), ORVD_OK);
    EXPECT_TRUE(IsRect(engine->ClientRect(), 0, 0, 640, 480));
    EXPECT_TRUE(IsRect(engine->ScreenRect(), 100, 50, 740, 530));
    EXPECT_TRUE(engine->DeviceSet(0)->bVisible);
    EXPECT_TRUE(IsRect(engine->DeviceSet(0)->rcDest, 100, 50, 740, 530));
}

TEST_F(PlacementTest, AWindowOnTheSecondMonitorIsPlacedRelativeToIt) {
    Fake().SetMonitors({kLeft, kRight});
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    PlacedWindow window(Fake(), engine, RECT{2000, 100, 2640, 580});
    EXPECT_EQ(engine->TrackWindow(), ORVD_OK);
    EXPECT_FALSE(engine->DeviceSet(0)->bVisible);  // the driver entry is never drawn to here
    EXPECT_FALSE(engine->DeviceSet(1)->bVisible);
    EXPECT_TRUE(engine->DeviceSet(2)->bVisible);
    EXPECT_TRUE(IsRect(engine->DeviceSet(2)->rcDest, 80, 100, 720, 580));
}

TEST_F(PlacementTest, AWindowAcrossTheBorderIsOnBothMonitors) {
    Fake().SetMonitors({kLeft, kRight});
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    PlacedWindow window(Fake(), engine, RECT{1600, 10, 2240, 490});
    EXPECT_EQ(engine->TrackWindow(), ORVD_OK);
    EXPECT_TRUE(engine->DeviceSet(1)->bVisible);
    EXPECT_TRUE(IsRect(engine->DeviceSet(1)->rcDest, 1600, 10, 2240, 490));
    EXPECT_TRUE(engine->DeviceSet(2)->bVisible);
    EXPECT_TRUE(IsRect(engine->DeviceSet(2)->rcDest, -320, 10, 320, 490));
}

TEST_F(PlacementTest, MovingTheWindowMovesItsDevices) {
    Fake().SetMonitors({kLeft, kRight});
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    PlacedWindow window(Fake(), engine, RECT{100, 100, 500, 400});
    EXPECT_EQ(engine->TrackWindow(), ORVD_OK);
    EXPECT_TRUE(engine->DeviceSet(1)->bVisible);
    EXPECT_FALSE(engine->DeviceSet(2)->bVisible);
    Fake().MoveWindow(window.Get(), RECT{1920, 100, 2320, 400});  // touching is not overlapping
    EXPECT_EQ(engine->TrackWindow(), ORVD_OK);
    EXPECT_FALSE(engine->DeviceSet(1)->bVisible);
    EXPECT_TRUE(engine->DeviceSet(2)->bVisible);
    EXPECT_TRUE(IsRect(engine->DeviceSet(2)->rcDest, 0, 100, 400, 400));
}

TEST_F(PlacementTest, TheClientAreaMustBeAtLeastTenByTen) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    struct Case {
        LONG width;
        LONG height;
        int32_t expected;
    };
    const Case cases[] = {{10, 10, ORVD_OK},          {640, 9, ORVD_E_NOT_READY},
                          {9, 480, ORVD_E_NOT_READY}, {640, 10, ORVD_OK},
                          {10, 480, ORVD_OK},         {0, 0, ORVD_E_NOT_READY}};
    for (const Case& c : cases) {
        PlacedWindow window(Fake(), engine, RECT{100, 100, 100 + c.width, 100 + c.height});
        EXPECT_EQ(engine->TrackWindow(), c.expected) << c.width << "x" << c.height;
    }
}

TEST_F(PlacementTest, AWindowWhollyOffTheDesktopIsNotDrawn) {
    // Desktop: (-1280, -200) to (1920, 1080).
    Fake().SetMonitors({RECT{0, 0, 1920, 1080}, RECT{-1280, -200, 0, 824}});
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    struct Case {
        RECT client;
        int32_t expected;
    };
    const Case cases[] = {
        {{-1380, 0, -1280, 100}, ORVD_E_NOT_READY},  // ends exactly at the left edge
        {{-1379, 0, -1279, 100}, ORVD_OK},
        {{1920, 0, 2020, 100}, ORVD_E_NOT_READY},  // starts exactly at the right edge
        {{1919, 0, 2019, 100}, ORVD_OK},
        {{0, -300, 100, -200}, ORVD_E_NOT_READY},  // ends exactly at the top edge
        {{0, 1080, 100, 1180}, ORVD_E_NOT_READY},  // starts exactly at the bottom edge
        {{-5000, -5000, 5000, 5000}, ORVD_OK},     // larger than the desktop
    };
    for (const Case& c : cases) {
        PlacedWindow window(Fake(), engine, c.client);
        EXPECT_EQ(engine->TrackWindow(), c.expected) << c.client.left << "," << c.client.top;
    }
}

TEST_F(PlacementTest, HiddenDestroyedAndMissingWindowsAreNotReady) {
    DDrawDisplayEngine* engine = EngineOf(NewHandle());
    EXPECT_EQ(engine->TrackWindow(), ORVD_E_NOT_READY);  // no window set yet
    PlacedWindow window(Fake(), engine, RECT{0, 0, 320, 240});
    Fake().SetWindowVisible(window.Get(), false);
    EXPECT_EQ(engine->TrackWindow(), ORVD_E_NOT_READY);
    Fake().SetWindowVisible(window.Get(), true);
    EXPECT_EQ(engine->TrackWindow(), ORVD_OK);
    Fake().DestroyWindow(window.Get());
    EXPECT_EQ(engine->TrackWindow(), ORVD_E_NOT_READY);
}

TEST_F(PlacementTest, DisplayFrameAndRefreshFollowTheWindowFirst) {
    const int32_t handle = NewHandle();
    unsigned char pixels[64 * 48 * 2] = {};
    tagORVD_FRAME frame{pixels, 0, ORVD_FORMAT_UYVY, 64, 48};
    EXPECT_EQ(ORVD_DisplayFrame(handle, nullptr), ORVD_E_PARAM);
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_E_NOT_READY);  // no window
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_E_NOT_READY);

    const HWND hwnd = Fake().AddWindow(RECT{0, 0, 320, 240});
    EXPECT_EQ(ORVD_SetDisplayWindow(handle, hwnd), ORVD_OK);
    EXPECT_EQ(ORVD_RefreshDisplay(handle), ORVD_OK);  // before the first frame: nothing to draw
    Fake().SetWindowVisible(hwnd, false);
    EXPECT_EQ(ORVD_DisplayFrame(handle, &frame), ORVD_E_NOT_READY);
    EXPECT_EQ(Fake().CountCalls("IDirectDrawSurface7::Lock"), 0u);
    // The frame's shape is kept even when the window cannot be drawn to.
    EXPECT_EQ(EngineOf(handle)->Geometry().dwWidth, 64u);
    EXPECT_EQ(EngineOf(handle)->CurrentFrame().dwFormat, DWORD{ORVD_FORMAT_UYVY});
}

TEST_F(PlacementTest, PlacementNeedsARectangleAndTheEnginesSurfaceSets) {
    NewHandle();  // sets the devices up
    DDrawDisplayEngine uninitialised;
    const RECT r{0, 0, 100, 100};
    EXPECT_EQ(uninitialised.PlaceOnDevices(nullptr), ORVD_E_PARAM);
    EXPECT_EQ(uninitialised.PlaceOnDevices(&r), ORVD_E_NOT_READY);
    EXPECT_EQ(uninitialised.Init(), ORVD_OK);
    EXPECT_EQ(uninitialised.PlaceOnDevices(&r), ORVD_OK);
}

}  // namespace
}  // namespace orvenna
