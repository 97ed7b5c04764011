// The shared library is the core library whole; its exports live in exports.cpp and its
// attach entry in connection.cpp. pulsbrdg.map says which names leave it.
