// Anchor of the player library; the player logic lives in the files beside it.
