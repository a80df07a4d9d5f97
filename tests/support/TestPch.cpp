// Owner of the tests' precompiled header with Qt Widgets; nothing of its own.
