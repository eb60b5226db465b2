// The embedded backend module.
