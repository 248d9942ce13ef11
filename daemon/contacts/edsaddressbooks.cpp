#include "daemon/contacts/edsaddressbooks.h"

#include "daemon/contacts/vcard.h"
#include "settingsstore/inidocument.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

namespace {

constexpr char kRegistry[] = "org.gnome.evolution.dataserver.Sources5";
constexpr char kFactory[] = "org.gnome.evolution.dataserver.AddressBook10";
constexpr char kBook[] = "org.gnome.evolution.dataserver.AddressBook";

} // namespace

EdsAddressBooks::EdsAddressBooks(sd_event *loop, Opened opened, std::function<void()> changed)
    : m_opened(std::move(opened))
    , m_changed(std::move(changed))
{
    sd_bus *bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) {
        m_opened(false, {});
        return;
    }
    m_bus.reset(bus);
    int result = 0;
    for (const char *name : {kRegistry, kFactory}) {
        if (result >= 0)
            result =
                sd_bus_add_match_async(bus, nullptr, bus::ownerChangedRule(name).c_str(), onChanged, nullptr, this);
    }
    // A source added or removed (an account, a new book).
    if (result >= 0)
        result = sd_bus_add_match_async(
            bus, nullptr,
            "type='signal',sender='org.gnome.evolution.dataserver.Sources5',"
            "interface='org.freedesktop.DBus.ObjectManager',path='/org/gnome/evolution/dataserver/SourceManager'",
            onChanged, nullptr, this);
    // Without its matches the books would never be read again: as good as no bus.
    if (result < 0 || sd_bus_attach_event(bus, loop, SD_EVENT_PRIORITY_NORMAL) < 0) {
        m_bus.reset();
        m_opened(false, {});
        return;
    }
    list();
}

void EdsAddressBooks::list()
{
    const bus::Message call = bus::methodCall(m_bus.get(), kRegistry, "/org/gnome/evolution/dataserver/SourceManager",
                                              "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
    sd_bus_slot *slot = nullptr;
    if (call && sd_bus_call_async(m_bus.get(), &slot, call.get(), onSources, this, 0) >= 0)
        m_sources.reset(slot);
}

int EdsAddressBooks::onChanged(sd_bus_message * /*message*/, void *self, sd_bus_error * /*error*/)
{
    static_cast<EdsAddressBooks *>(self)->list(); // started, stopped, restarted, a source added: open again
    return 0;
}

// Each source whose key file has an enabled address book is opened, again where it was (its
// factory may have restarted): its numbers read last count until it is read anew. A book
// whose source is gone goes. While the registry is away the books stay as they are.
int EdsAddressBooks::onSources(sd_bus_message *message, void *self, sd_bus_error * /*error*/)
{
    auto &books = *static_cast<EdsAddressBooks *>(self);
    books.m_sources.reset();
    books.m_told = false;
    if (sd_bus_message_is_method_error(message, nullptr)) {
        books.m_told = true;
        books.m_opened(false, books.readNames());
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
    std::set<std::string> listed;
    bus::readManagedObjects(message, "org.gnome.evolution.dataserver.Source", readSource, [&] {
        const settingsstore::IniDocument source = settingsstore::IniDocument::parse(data);
        if (source.value("Address Book", "BackendName") && source.value("Data Source", "Enabled") != "false") {
            listed.insert(uid);
            books.open(uid, source.value("Data Source", "DisplayName").value_or(uid));
        }
        uid.clear();
        data.clear();
    });
    const size_t before = books.m_books.size();
    books.m_books.remove_if([&listed](const Book &book) { return listed.count(book.uid) == 0; });
    if (books.m_books.size() != before)
        books.m_changed();
    books.tellOpened();
    return 0;
}

void EdsAddressBooks::open(const std::string &uid, const std::string &name)
{
    auto known = std::find_if(m_books.begin(), m_books.end(), [&uid](const Book &book) { return book.uid == uid; });
    Book &book = known != m_books.end() ? *known : m_books.emplace_back();
    book.books = this;
    book.uid = uid;
    book.name = name;
    book.changes.reset();
    book.question.reset();
    sd_bus_slot *slot = nullptr;
    // Auto-started: the factory is the registry's, and opening a book starts it for any of
    // its clients (a dialer, the contacts app); the registry itself is never started.
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
    opening.question.reset(); // sd-bus holds it until the handler returns
    // By path alone: the book's is this client's own. Set before the read, not asynchronously:
    // a change right after the read went unheard so (seen at once after the daemon's start).
    const std::string rule = "type='signal',path='" + opening.path
        + "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',arg0='" + kBook + "'";
    sd_bus_slot *slot = nullptr;
    if (sd_bus_message_is_method_error(message, nullptr)
        || sd_bus_add_match(sd_bus_message_get_bus(message), &slot, rule.c_str(), onBookChanged, book) < 0) {
        opening.path.clear();
        opening.books->tellOpened();
        return 0;
    }
    opening.changes.reset(slot);
    readContacts(opening);
    return 0;
}

// A change of its revision, or of anything else it tells: read again.
int EdsAddressBooks::onBookChanged(sd_bus_message * /*message*/, void *book, sd_bus_error * /*error*/)
{
    readContacts(*static_cast<Book *>(book));
    return 0;
}

void EdsAddressBooks::readContacts(Book &book)
{
    sd_bus_slot *slot = nullptr;
    if (sd_bus_call_method_async(book.books->m_bus.get(), &slot, book.service.c_str(), book.path.c_str(), kBook,
                                 "GetContactList", onContacts, &book, "s", R"((exists "phone"))")
        >= 0)
        book.question.reset(slot); // one read under way a book: a newer one replaces it
    else if (!book.read)
        book.books->tellOpened();
}

// An error (a factory that did not answer within sd-bus's 25 s, one that went) leaves the
// numbers read last: it says nothing of the book.
int EdsAddressBooks::onContacts(sd_bus_message *message, void *book, sd_bus_error * /*error*/)
{
    auto &reading = *static_cast<Book *>(book);
    reading.question.reset();
    std::vector<std::string> numbers;
    const char *card = nullptr;
    const bool answered =
        !sd_bus_message_is_method_error(message, nullptr) && sd_bus_message_enter_container(message, 'a', "s") >= 0;
    while (answered && sd_bus_message_read(message, "s", &card) > 0) {
        for (std::string &number : vcard::telephoneNumbers(card))
            numbers.push_back(std::move(number));
    }
    if (answered) {
        reading.numbers = std::move(numbers);
        reading.read = true;
        reading.books->m_changed();
    }
    reading.books->tellOpened();
    return 0;
}

void EdsAddressBooks::tellOpened()
{
    for (const Book &book : m_books) {
        if (!book.read && book.question != nullptr)
            return;
    }
    if (!std::exchange(m_told, true))
        m_opened(true, readNames());
}

std::vector<std::string> EdsAddressBooks::readNames() const
{
    std::vector<std::string> names;
    for (const Book &book : m_books) {
        if (book.read)
            names.push_back(book.name);
    }
    return names;
}

std::vector<std::string> EdsAddressBooks::numbers() const
{
    std::vector<std::string> all;
    for (const Book &book : m_books)
        all.insert(all.end(), book.numbers.begin(), book.numbers.end());
    return all;
}
