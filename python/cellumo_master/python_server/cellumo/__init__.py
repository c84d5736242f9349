"""The Excel object bridge (`ostrel`)."""
