// The shared library is the core library whole; its exports live beside it in the core.
