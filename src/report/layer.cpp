// Placeholder translation unit until the layer's first source lands.
