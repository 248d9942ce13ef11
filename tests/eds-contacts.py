#!/usr/bin/python3 -W ignore::DeprecationWarning
# evolution-data-server for tests and benches, through its own API:
#   serve HOME     the source registry and the address-book factory on the session bus,
#                  their home HOME; prints "FACTORY-PID REGISTRY-PID" once the built-in address book
#                  opens, keeps it open (as the phone's dialer does: a book no client holds
#                  is closed, and one opened while it closes hears no change), and ends them
#                  all at SIGTERM
#   add VCARD      adds a contact to the built-in address book; prints its UID
#   remove UID     removes one
#   fill N         adds N contacts, with the numbers +34 610000000 on
#   book NAME VCARD  makes a local address book NAME and adds the contact there
# All use the session bus of the environment; the caller starts it (tests/sessionrig.h).
import os
import signal
import subprocess
import sys
import time

def open_book(argv):
    """The built-in address book, or a new local one NAME for "book NAME ..."; open."""
    import gi

    gi.require_version("EDataServer", "1.2")
    gi.require_version("EBook", "1.2")
    from gi.repository import EBook, EDataServer

    registry = EDataServer.SourceRegistry.new_sync(None)
    source = registry.ref_builtin_address_book()
    if argv[1:2] == ["book"]:
        source = EDataServer.Source.new(None, None)
        source.set_display_name(argv[2])
        source.set_parent("local-stub")
        source.get_extension(EDataServer.SOURCE_EXTENSION_ADDRESS_BOOK).set_backend_name("local")
        registry.commit_source_sync(source, None)
    # Not connect_sync(): without a network monitor it waits out its whole timeout.
    client = EBook.BookClient.new(source)
    client.open_sync(False, None)
    return client


if sys.argv[1:2] == ["serve"]:
    env = dict(os.environ, HOME=sys.argv[2])
    for xdg in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"):
        env.pop(xdg, None)
    libexec = "/usr/libexec/"
    quiet = {"env": env, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}  # the PIDs alone go out
    services = [subprocess.Popen([libexec + "evolution-source-registry"], **quiet),
                subprocess.Popen([libexec + "evolution-addressbook-factory", "--keep-running"], **quiet)]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        while subprocess.run([sys.argv[0]], **quiet).returncode != 0:
            time.sleep(0.1)
        held = open_book(["serve"])  # noqa: F841 (held open)
        print(services[1].pid, services[0].pid, flush=True)
        signal.pause()
    finally:
        for process in services:
            process.send_signal(signal.SIGCONT)  # the factory may be stopped
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    sys.exit(0)

import gi  # noqa: E402

gi.require_version("EBookContacts", "1.2")
from gi.repository import EBookContacts  # noqa: E402

client = open_book(sys.argv)
if sys.argv[1:2] in (["add"], ["book"]):
    contact = EBookContacts.Contact.new_from_vcard(sys.argv[-1])
    print(client.add_contact_sync(contact, EBookContacts.BookOperationFlags.NONE, None)[1])
elif sys.argv[1:2] == ["fill"]:
    for first in range(0, int(sys.argv[2]), 1000):
        made = [EBookContacts.Contact.new_from_vcard(
            "BEGIN:VCARD\nVERSION:3.0\nFN:Contact %d\nTEL;TYPE=CELL:+34 6%d\nEND:VCARD" % (i, 10000000 + i))
            for i in range(first, min(first + 1000, int(sys.argv[2])))]
        client.add_contacts_sync(made, EBookContacts.BookOperationFlags.NONE, None)
elif sys.argv[1:2] == ["remove"]:
    client.remove_contact_by_uid_sync(sys.argv[2], EBookContacts.BookOperationFlags.NONE, None)
