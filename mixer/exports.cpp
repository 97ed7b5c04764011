// The shared library is the core library whole; its exports live in faderlib.cpp.
