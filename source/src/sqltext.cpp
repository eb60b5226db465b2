// SQL text helpers.
