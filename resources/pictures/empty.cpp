// Stands in while no picture has been generated.
