// The debug trace channel.
