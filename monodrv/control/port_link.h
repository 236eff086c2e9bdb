// What the driver needs of the port library and of time, behind seams: the program binds the
// real port library and the system clock; tests pass a scripted port and a fake clock.
#pragma once

#include <cstdint>
#include <memory>

namespace monodrv {

// The seven port-library calls the driver makes, on one port.
class PortLink {
  public:
    virtual ~PortLink() = default;
    virtual std::int32_t OutputMultiple(const std::uint8_t* data, std::int32_t length) = 0;
    virtual void FlushBuffer(std::int32_t code) = 0;
    virtual std::int32_t GetUIParam(std::int32_t code) = 0;
    virtual std::int32_t Input() = 0;
    virtual std::int32_t InputMultiple(std::uint8_t* buffer, std::int32_t maximum) = 0;
    virtual std::uint32_t GetUserData() = 0;
    virtual std::int32_t SetUserData(std::uint32_t value) = 0;
};

// What the protocol remembers of an instance's controller between operations: when it last
// took a move. Some interfaces do not answer a busy query sent soon after that.
struct LinkMemory {
    bool move_taken = false;
    std::uint32_t move_taken_at = 0;  // ticks
};

// Millisecond tick counter and sleep.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t Ticks() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

Clock& SystemClock();

// The clock the driver uses (the system clock unless a test replaced it).
Clock& ActiveClock();
void SetClock(Clock* clock);  // null restores the system clock

// Opens the link to a port through the bound port library; null when the library is not
// (completely) bound. A test may replace how links are made.
std::unique_ptr<PortLink> MakePortLink(std::uint32_t port);
using PortLinkFactory = std::unique_ptr<PortLink> (*)(std::uint32_t port);
void SetPortLinkFactory(PortLinkFactory factory);  // null restores the port library

// Reporting hook for the driver's one message box (text, caption); the default writes both
// to standard error.
using MessageHook = void (*)(const char* text, const char* caption);
void SetMessageHook(MessageHook hook);
void ShowMessage(const char* text, const char* caption);

// Binding of the port library: loaded by name, its 51 functions looked up; true when all
// were found. Unbinding frees it.
bool BindPortLibrary(const char* caption);
void UnbindPortLibrary();
bool PortLibraryBound();

}  // namespace monodrv
