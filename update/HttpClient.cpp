// The HTTP/1.0 client of the online update.
