// property pages
