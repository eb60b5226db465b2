// Runtime.
