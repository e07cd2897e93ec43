// The mail file read through the host.
