#!/usr/bin/python3 -W ignore::DeprecationWarning
# Adds a contact to evolution-data-server's built-in address book through its own API, or
# removes one: "add VCARD" prints the new contact's UID, "remove UID"; "fill N" adds N contacts
# with the numbers +34 610000000 on; "book NAME VCARD" makes a new local address book and adds
# the contact there; without arguments it only opens the built-in book. The session bus, the source registry and the address-book factory
# are the caller's.
import sys

import gi

gi.require_version("EDataServer", "1.2")
gi.require_version("EBook", "1.2")
gi.require_version("EBookContacts", "1.2")
from gi.repository import EBook, EBookContacts, EDataServer  # noqa: E402

registry = EDataServer.SourceRegistry.new_sync(None)
source = registry.ref_builtin_address_book()
if sys.argv[1:2] == ["book"]:
    source = EDataServer.Source.new(None, None)
    source.set_display_name(sys.argv[2])
    source.set_parent("local-stub")
    source.get_extension(EDataServer.SOURCE_EXTENSION_ADDRESS_BOOK).set_backend_name("local")
    registry.commit_source_sync(source, None)
# Not connect_sync(): without a network monitor it waits out its whole timeout.
client = EBook.BookClient.new(source)
client.open_sync(False, None)
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
