// One spectrograph as a server hosts it, without the control system: a worker thread owns
// the port and the driver instance (the driver serves one thread at a time), runs the
// start-up and every request beside the callers, and keeps a snapshot that callers read at
// once, also during a move. Requests the instrument cannot take now are refused with the
// reason, before anything is sent.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace monodrv::server {

enum class Phase { Init, On, Moving, Fault };

// What the instrument is and was last seen to be; NaN or 0 where it is not known.
struct Snapshot {
    Phase phase = Phase::Init;
    std::string status = "starting: opening the port and greeting the controller";
    double wavelength = 0;                  // nm, read back
    std::int32_t grating = 0;               // 1-based
    std::array<double, 4> slits{};          // mm by slit location; NaN: no slit there
    std::array<std::int32_t, 2> mirrors{};  // entrance, exit: 1 front, 2 side
    std::array<std::int32_t, 3> speeds{};   // minimum, maximum, ramp
    bool busy = false;
    std::uint64_t moves = 0;  // how many wavelengths were read back since the start
};

struct Settings {
    std::int16_t model = 0;
    std::string title;  // "TRIAX 320"
    std::string port;
    std::int32_t baud = 19200;
    std::vector<double> grooves;  // per grating, from the first; empty: 1200 each
    double wait_limit_s = 60;
};

// A request refused before anything was sent; the text says why.
class Refused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Instrument {
  public:
    // `changed` is called from the worker thread after the snapshot changed.
    Instrument(Settings settings, std::function<void(const Snapshot&)> changed);
    ~Instrument();  // ends the worker (after the operation it runs) and lets the port go
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    Snapshot Now() const;
    const Settings& Configured() const { return settings_; }
    // The lowest wavelength the model's drive reaches, and the highest a user may ask.
    std::array<double, 2> WavelengthRange() const { return range_; }
    std::int32_t Gratings() const { return gratings_; }

    void MoveTo(double nm);
    void SelectGrating(std::int32_t number);
    void MoveSlit(int location, double mm);
    void SetMirror(int location, int position);
    void SetSpeeds(const std::array<std::int32_t, 3>& speeds);
    void Reinitialize();
    void Stop();  // taken also during a move

  private:
    struct Request {
        enum Kind { Move, Grating, Slit, Mirror, Speeds, Reinit, StopNow } kind;
        double value = 0;
        std::array<std::int32_t, 3> n{};  // a grating, a location and position, or speeds
    };
    // Takes a request for the worker; `doing` is the Status while it runs ("moving to ...").
    void Submit(const Request& request, const std::string& doing);
    void Work();
    bool Start();
    void Run(const Request& request);
    bool Process(std::uint32_t operation, const char* what);
    bool WaitForEnd(const char* what, double limit_s);
    bool ReadBack();
    void HealthCheck();
    void Update(const std::function<void(Snapshot&)>& change);
    void Fail(const std::string& status);

    Settings settings_;
    std::function<void(const Snapshot&)> changed_;
    std::array<double, 2> range_{};
    std::int32_t gratings_ = 0;

    mutable std::mutex mutex_;  // guards snapshot_, requests_, ending_
    std::condition_variable wake_;
    Snapshot snapshot_;
    std::deque<Request> requests_;
    bool ending_ = false;
    std::atomic<bool> stop_asked_{false};

    // The worker's own: the port and the driver instance.
    std::uint32_t port_ = 0;
    void* handle_ = nullptr;
    std::thread worker_;
};

const char* PhaseName(Phase phase);

}  // namespace monodrv::server
