// Placeholder so that a box with no sources yet still forms a library.
