// One render handle: the frame hand-off from the caller's thread, the sub-port with its overlay
// callback, and the drawing thread that owns a window-system connection and presents the picture.
#pragma once

#include "glintra.h"
#include "grey_picture.h"
#include "output.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace glintra {

class Renderer {
  public:
    explicit Renderer(GLT_HANDLE handle);
    ~Renderer();  // Stop()
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    bool Init(int32_t format, int32_t scaleFilter);
    bool AddSubPort(int32_t subPort);
    bool DelSubPort(int32_t subPort);
    bool SetCallBack(int32_t subPort, int32_t kind, GLT_DRAWCALLBACK callback, void* user);
    bool UpdateFrame(const uint8_t* image, int32_t width, int32_t height);
    bool Display(int32_t subPort, uint64_t window);
    // False when the drawing thread's wake-up could not be made.
    bool Usable() const { return m_wakeup.Usable(); }
    // Makes drawing threads started from now on present without shared memory (tests).
    static void DisableShm(bool disabled);
    // Ends the drawing thread and closes its connection; false when called on that thread.
    bool Stop();

    // Draws into the picture that the calling thread is drawing for `handle` right now, if any.
    static bool DrawRectInCallback(GLT_HANDLE handle, const float rect[4], const float colour[4],
                                   int32_t lineWidth);

    // Pictures rendered and presented so far, and a wait for that count to reach `count`.
    uint64_t Presented();
    bool WaitPresented(uint64_t count, std::chrono::milliseconds timeout);
    // Whether the drawing thread presents through shared memory (false before it has presented).
    bool PresentsShared() const { return m_presentsShared; }

  private:
    void DrawLoop(std::unique_ptr<Connection> connection);
    void Wake() { m_wakeup.Signal(); }
    void RunOverlay(OverlayCanvas& canvas, int width, int height, int32_t dc);

    const GLT_HANDLE m_handle;
    Wakeup m_wakeup;  // wakes the drawing thread; signalled by any thread

    // Serialises callers of UpdateFrame; guards m_back.
    std::mutex m_producerLock;
    GreyPicture m_back;  // the next picture, filled outside m_frameLock

    // Guards the fields from here to m_stop. Held only to copy small values or swap pictures.
    std::mutex m_frameLock;
    GreyPicture m_pending;         // latest picture not yet taken by the drawing thread
    uint64_t m_pendingSerial = 0;  // bumped by UpdateFrame
    bool m_hasPicture = false;     // a picture has been given since creation
    bool m_subPortAdded = false;   // written by AddSubPort / DelSubPort
    uint64_t m_window = 0;         // where Display asked to show; 0 when none
    uint64_t m_badWindow = 0;      // the last window the window system refused; written by drawer
    bool m_bilinear = true;        // set by Init
    bool m_stop = false;           // set by Stop

    // Held by the drawing thread while it runs the callback, and by whoever changes it, so that a
    // caller who clears the callback knows it is not running any more. Recursive so that the
    // callback may call GLT_SetCallBack itself.
    std::recursive_mutex m_callbackLock;
    GLT_DRAWCALLBACK m_callback = nullptr;
    void* m_user = nullptr;

    // Guards the drawing thread's start and end.
    std::mutex m_controlLock;
    std::thread m_drawer;
    std::chrono::steady_clock::time_point m_lastOpenFailure{};
    bool m_openFailed = false;
    std::atomic<bool> m_connectionLost{false};  // set by the drawer when its connection died

    // Written by the drawing thread after each presented picture; waited on by WaitPresented.
    std::mutex m_presentedLock;
    std::condition_variable m_presentedChanged;
    uint64_t m_presented = 0;
    std::atomic<bool> m_presentsShared{false};
};

}  // namespace glintra
