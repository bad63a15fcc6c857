// Replaced by the dialog glue.
