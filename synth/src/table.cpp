// Playback tables: filled in with Table, Reader and frame weights.
