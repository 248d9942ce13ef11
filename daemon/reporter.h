#pragma once

#include <set>
#include <string>

// Tells the owner what keeps the daemon from doing its work: each cause once while it lasts,
// not once per call. On stderr, and in the system log once the daemon has detached from the
// starter (its stderr may then lead nowhere).
class Reporter
{
public:
    void toSystemLog();
    // `cause` names the fault ("log", "settings"); said again only after resolved(cause).
    void report(const std::string &cause, const std::string &message);
    void resolved(const std::string &cause);
    // Every cause that begins with `kind` ("hangup" for "hangup <error name>").
    void resolvedAll(const std::string &kind);

private:
    std::set<std::string> m_active;
    bool m_systemLog = false;
};
