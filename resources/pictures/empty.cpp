// Gives the resource library a source of its own; the pictures come as Qt resources.
