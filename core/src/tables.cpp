// Table store: filled in with Tables.
