// replaced by the mail-text sources
