// The shared library is the core library whole; its exports live beside the code of their
// concern (Devices.cpp, Sources.cpp, Volumes.cpp).
