// The precompiled headers' own targets compile this empty file: the headers are their work.
