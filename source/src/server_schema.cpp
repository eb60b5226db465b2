// Schema commands (being written).
