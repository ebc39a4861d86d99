// Keeps the editors library non-empty until the first editor lands.
