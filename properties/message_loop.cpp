#include "message_loop.h"

#include <algorithm>

namespace tvn {
namespace {

thread_local MessageLoop* currentLoop = nullptr;

template <typename T>
bool AddOnce(std::vector<T*>& list, T* item) {
    if (item == nullptr || std::find(list.begin(), list.end(), item) != list.end()) {
        return false;
    }
    list.push_back(item);
    return true;
}

template <typename T>
bool RemoveOne(std::vector<T*>& list, T* item) {
    auto found = std::find(list.begin(), list.end(), item);
    if (found == list.end()) {
        return false;
    }
    list.erase(found);
    return true;
}

}  // namespace

bool MessageLoop::AddFilter(MessageFilter* filter) {
    return AddOnce(filters_, filter);
}
bool MessageLoop::RemoveFilter(MessageFilter* filter) {
    return RemoveOne(filters_, filter);
}
bool MessageLoop::AddIdleHandler(IdleHandler* handler) {
    return AddOnce(idleHandlers_, handler);
}
bool MessageLoop::RemoveIdleHandler(IdleHandler* handler) {
    return RemoveOne(idleHandlers_, handler);
}

MessageLoop* MessageLoop::Current() {
    return currentLoop;
}
void MessageLoop::SetCurrent(MessageLoop* loop) {
    currentLoop = loop;
}

bool MessageLoop::Filter(MSG& message) {
    // A copy: a filter may unregister itself (the dialog does when it closes).
    std::vector<MessageFilter*> filters = filters_;
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
        if (std::find(filters_.begin(), filters_.end(), *it) != filters_.end() &&
            (*it)->PreTranslateMessage(message)) {
            return true;
        }
    }
    return false;
}

void MessageLoop::RunIdleHandlers() {
    std::vector<IdleHandler*> handlers = idleHandlers_;
    for (IdleHandler* handler : handlers) {
        if (std::find(idleHandlers_.begin(), idleHandlers_.end(), handler) != idleHandlers_.end()) {
            handler->OnIdle();
        }
    }
}

int MessageLoop::Run() {
    MSG message{};
    bool idleDue = true;
    for (;;) {
        // Idle handlers run once each time the queue has drained.
        if (idleDue && !PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            RunIdleHandlers();
            idleDue = false;
        }
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) {
            continue;
        }
        if (got == 0) {
            return static_cast<int>(message.wParam);
        }
        if (!Filter(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        idleDue = true;
    }
}

}  // namespace tvn
