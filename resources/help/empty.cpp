// Gives the resource library a source of its own; the help pages come as Qt resources.
