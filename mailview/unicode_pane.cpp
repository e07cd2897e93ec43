// The Unicode pane.
