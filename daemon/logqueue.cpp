#include "daemon/logqueue.h"

#include "daemon/runtime/reporter.h"
#include "firewall/callscreen.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>

namespace {

std::string localTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace

LogQueue::LogQueue(sd_event *loop, std::string log, std::string lock, Reporter &reporter)
    : m_log(std::move(log))
    , m_lock(std::move(lock))
    , m_reporter(reporter)
    , m_retry(eventloop::timer(loop, [this] { write(); }))
{
}

void LogQueue::add(const firewall::CallerId &caller)
{
    m_unwritten.push_back({caller.logged(), localTimestamp()});
    if (m_unwritten.size() > kMaxUnwritten) {
        m_reporter.report(Fault::Lost,
                          "blocked calls are being dropped from the log: " + m_log + " has not been writable for "
                              + std::to_string(kMaxUnwritten) + " calls");
        m_unwritten.erase(m_unwritten.begin());
    }
    if (eventloop::Clock::now() >= m_retryAt)
        write();
}

void LogQueue::write()
{
    using firewall::calllog::AppendResult;
    const AppendResult result = firewall::calllog::append(m_log, m_lock, m_unwritten, &m_mark, false);
    const int error = errno;
    const auto now = eventloop::Clock::now();
    switch (result) {
    case AppendResult::Written:
        m_unwritten.clear();
        m_reporter.resolved(Fault::Log);
        m_reporter.resolved(Fault::Lost);
        m_retryAt = now;
        break;
    case AppendResult::Busy: // someone is rewriting the log; that takes moments
        m_retryAt = now + std::chrono::milliseconds(20);
        break;
    case AppendResult::Failed:
        m_reporter.report(Fault::Log,
                          "cannot write the blocked-call log " + m_log + ": " + std::strerror(error)
                              + "; blocked calls are kept and written once it can be written");
        m_retryAt = now + std::chrono::seconds(1);
        break;
    }
    if (m_retry != nullptr && !m_unwritten.empty() && !eventloop::armAt(m_retry.get(), m_retryAt))
        m_reporter.report(Fault::Timer, "cannot set a timer: blocked calls not yet logged wait for the next one");
}

void LogQueue::flush(std::chrono::milliseconds wait)
{
    m_retry.reset(); // the loop has finished: its timers can no longer be set
    const auto giveUp = eventloop::Clock::now() + wait;
    while (!m_unwritten.empty() && eventloop::Clock::now() < giveUp) {
        write();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!m_unwritten.empty()) {
        m_reporter.report(Fault::Lost,
                          std::to_string(m_unwritten.size()) + " blocked calls were not logged: " + m_log
                              + " could not be written before the daemon stopped");
    }
}
