#pragma once

#include "daemon/runtime/eventloop.h"
#include "firewall/blockedcalllog.h"
#include "firewall/callerid.h"

#include <chrono>
#include <string>
#include <vector>

class Reporter;

// The blocked calls on their way to the log. A call is answered first and logged after: when
// the log's lock is held or the log cannot be written, its entry waits in memory (at most
// kMaxUnwritten, the oldest dropped first) and is written as soon as it can be.
class LogQueue
{
public:
    static constexpr size_t kMaxUnwritten = 10000;

    LogQueue(sd_event *loop, std::string log, std::string lock, Reporter &reporter);
    LogQueue(const LogQueue &) = delete;
    LogQueue &operator=(const LogQueue &) = delete;

    // A blocked call from `caller`, now.
    void add(const firewall::CallerId &caller);
    // At the stop: tries for at most `wait` to write what waits, and says what was lost.
    void flush(std::chrono::milliseconds wait);

private:
    void write();

    std::string m_log;
    std::string m_lock;
    Reporter &m_reporter;
    firewall::calllog::AppendMark m_mark;
    std::vector<firewall::calllog::Entry> m_unwritten;
    eventloop::Clock::time_point m_retryAt;
    eventloop::Source m_retry;
};
