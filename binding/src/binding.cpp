// The binding.
