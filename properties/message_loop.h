// The message loop of the properties program's one thread, with the two hooks its dialog
// attaches: message filters, which see every message before it is translated and dispatched
// and may take it (dialog keyboard handling), and idle handlers, which run each time the
// queue has become empty.
#pragma once

#include <windows.h>

#include <vector>

namespace tvn {

class MessageFilter {
  public:
    // True when the filter took the message: it is then neither translated nor dispatched.
    virtual bool PreTranslateMessage(MSG& message) = 0;

  protected:
    ~MessageFilter() = default;
};

class IdleHandler {
  public:
    virtual void OnIdle() = 0;

  protected:
    ~IdleHandler() = default;
};

class MessageLoop {
  public:
    MessageLoop() = default;
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // Registration; a hook registered twice is kept once, removing one that is not there is
    // false. Hooks may be added or removed from inside a hook.
    bool AddFilter(MessageFilter* filter);
    bool RemoveFilter(MessageFilter* filter);
    bool AddIdleHandler(IdleHandler* handler);
    bool RemoveIdleHandler(IdleHandler* handler);

    // Runs until WM_QUIT and returns its code. A failed GetMessageW is skipped.
    int Run();

    // The loop registered for the calling thread, or null.
    static MessageLoop* Current();
    // Makes `loop` the calling thread's loop (null: none).
    static void SetCurrent(MessageLoop* loop);

  private:
    bool Filter(MSG& message);
    void RunIdleHandlers();

    std::vector<MessageFilter*> filters_;
    std::vector<IdleHandler*> idleHandlers_;
};

}  // namespace tvn
