#include "daemon/edsaddressbooks.h"

#include "settingsstore/inidocument.h"

#include <cstring>

namespace {

constexpr char kRegistry[] = "org.gnome.evolution.dataserver.Sources5";
constexpr char kFactory[] = "org.gnome.evolution.dataserver.AddressBook10";
constexpr char kBook[] = "org.gnome.evolution.dataserver.AddressBook";

} // namespace

EdsAddressBooks::EdsAddressBooks(sd_event *loop, Opened opened)
    : m_opened(std::move(opened))
{
    sd_bus *bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) {
        m_opened(false, {});
        return;
    }
    m_bus.reset(bus);
    for (const char *name : {kRegistry, kFactory}) {
        const std::string rule = "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                                 "member='NameOwnerChanged',arg0='"
            + std::string(name) + "'";
        sd_bus_add_match_async(bus, nullptr, rule.c_str(), onChanged, nullptr, this);
    }
    // A source added or removed (an account, a new book).
    sd_bus_add_match_async(
        bus, nullptr,
        "type='signal',sender='org.gnome.evolution.dataserver.Sources5',"
        "interface='org.freedesktop.DBus.ObjectManager',path='/org/gnome/evolution/dataserver/SourceManager'",
        onChanged, nullptr, this);
    if (sd_bus_attach_event(bus, loop, SD_EVENT_PRIORITY_NORMAL) < 0) {
        m_bus.reset();
        m_opened(false, {});
        return;
    }
    list();
}

void EdsAddressBooks::list()
{
    m_books.clear();
    sd_bus_message *call = nullptr;
    sd_bus_slot *slot = nullptr;
    if (sd_bus_message_new_method_call(m_bus.get(), &call, kRegistry, "/org/gnome/evolution/dataserver/SourceManager",
                                       "org.freedesktop.DBus.ObjectManager", "GetManagedObjects")
            >= 0
        && sd_bus_message_set_auto_start(call, 0) >= 0
        && sd_bus_call_async(m_bus.get(), &slot, call, onSources, this, 0) >= 0)
        m_sources.reset(slot);
    sd_bus_message_unref(call);
}

int EdsAddressBooks::onChanged(sd_bus_message * /*message*/, void *self, sd_bus_error * /*error*/)
{
    static_cast<EdsAddressBooks *>(self)->list(); // started, stopped, restarted, a source added: open again
    return 0;
}

// Each source whose key file has an enabled address book is opened.
int EdsAddressBooks::onSources(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &books = *static_cast<EdsAddressBooks *>(self);
    books.m_sources.reset();
    if (sd_bus_message_is_method_error(message, nullptr)) {
        books.m_opened(false, {});
        return 0;
    }
    std::string uid;
    std::string data;
    const auto readSource = [&](const char *key) {
        const char *text = nullptr;
        const bool wanted = std::strcmp(key, "UID") == 0 || std::strcmp(key, "Data") == 0;
        const int read = wanted ? sd_bus_message_read(message, "v", "s", &text) : 0;
        if (read > 0)
            (std::strcmp(key, "UID") == 0 ? uid : data) = text;
        return read;
    };
    CallWatcher::readManagedObjects(message, "org.gnome.evolution.dataserver.Source", readSource, [&] {
        const control::IniDocument source = control::IniDocument::parse(data);
        if (source.value("Address Book", "BackendName") && source.value("Data Source", "Enabled") != "false")
            books.open(uid, source.value("Data Source", "DisplayName").value_or(uid));
        uid.clear();
        data.clear();
    });
    books.tellOpened();
    return 0;
}

void EdsAddressBooks::open(const std::string &uid, const std::string &name)
{
    Book &book = m_books.emplace_back();
    book.books = this;
    book.name = name;
    sd_bus_slot *slot = nullptr;
    if (sd_bus_call_method_async(m_bus.get(), &slot, kFactory, "/org/gnome/evolution/dataserver/AddressBookFactory",
                                 "org.gnome.evolution.dataserver.AddressBookFactory", "OpenAddressBook", onBook, &book,
                                 "s", uid.c_str())
        >= 0)
        book.question.reset(slot);
}

int EdsAddressBooks::onBook(sd_bus_message *message, void *book, sd_bus_error * /*error*/)
{
    auto &opening = *static_cast<Book *>(book);
    const char *path = nullptr;
    const char *service = nullptr;
    sd_bus_slot *slot = nullptr;
    if (sd_bus_message_is_method_error(message, nullptr) || sd_bus_message_read(message, "ss", &path, &service) < 0
        || sd_bus_call_method_async(sd_bus_message_get_bus(message), &slot, service, path, kBook, "Open", onOpen, book,
                                    nullptr)
            < 0) {
        opening.question.reset(); // sd-bus holds it until the handler returns
        opening.books->tellOpened();
        return 0;
    }
    opening.path = path;
    opening.service = service;
    opening.question.reset(slot);
    return 0;
}

int EdsAddressBooks::onOpen(sd_bus_message *message, void *book, sd_bus_error * /*error*/)
{
    auto &opening = *static_cast<Book *>(book);
    if (sd_bus_message_is_method_error(message, nullptr))
        opening.path.clear();
    opening.question.reset(); // sd-bus holds it until the handler returns
    opening.books->tellOpened();
    return 0;
}

void EdsAddressBooks::tellOpened()
{
    std::vector<std::string> names;
    for (const Book &book : m_books) {
        if (book.question != nullptr)
            return;
        if (!book.path.empty())
            names.push_back(book.name);
    }
    m_opened(true, names);
}

bool EdsAddressBooks::has(const std::string &number) const
{
    // Only what a phone number may hold goes into the query's quotes.
    if (m_bus == nullptr || number.empty() || number.find_first_not_of("+0123456789 -.()#*") != std::string::npos)
        return false;
    const std::string query = R"((eqphone_national "phone" ")" + number + R"("))";
    for (const Book &book : m_books) {
        sd_bus_message *call = nullptr;
        sd_bus_message *reply = nullptr;
        const bool asked = !book.path.empty() && book.question == nullptr
            && sd_bus_message_new_method_call(m_bus.get(), &call, book.service.c_str(), book.path.c_str(), kBook,
                                              "GetContactListUids")
                >= 0
            && sd_bus_message_append(call, "s", query.c_str()) >= 0
            && sd_bus_call(m_bus.get(), call, std::chrono::microseconds(kAnswerWait).count(), nullptr, &reply) >= 0;
        const char *uid = nullptr;
        const bool found =
            asked && sd_bus_message_enter_container(reply, 'a', "s") >= 0 && sd_bus_message_read(reply, "s", &uid) > 0;
        sd_bus_message_unref(reply);
        sd_bus_message_unref(call);
        if (found)
            return true;
    }
    return false;
}
