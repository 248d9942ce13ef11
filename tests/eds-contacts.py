#!/usr/bin/python3 -W ignore::DeprecationWarning
# Adds a contact to evolution-data-server's built-in address book through its own API, or
# removes one: "add VCARD" prints the new contact's UID, "remove UID"; without arguments it
# only opens the book. The session bus, the source registry and the address-book factory
# are the caller's.
import sys

import gi

gi.require_version("EDataServer", "1.2")
gi.require_version("EBook", "1.2")
gi.require_version("EBookContacts", "1.2")
from gi.repository import EBook, EBookContacts, EDataServer  # noqa: E402

registry = EDataServer.SourceRegistry.new_sync(None)
# Not connect_sync(): without a network monitor it waits out its whole timeout.
client = EBook.BookClient.new(registry.ref_builtin_address_book())
client.open_sync(False, None)
if sys.argv[1:2] == ["add"]:
    contact = EBookContacts.Contact.new_from_vcard(sys.argv[2])
    print(client.add_contact_sync(contact, EBookContacts.BookOperationFlags.NONE, None)[1])
elif sys.argv[1:2] == ["remove"]:
    client.remove_contact_by_uid_sync(sys.argv[2], EBookContacts.BookOperationFlags.NONE, None)
